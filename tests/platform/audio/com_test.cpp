// Creating the audio classes through COM, task memory and the libraries that creation loads.
#include <audio_test_control.h>
#include <dsound.h>
#include <mmdeviceapi.h>
#include <objbase.h>
#include <xaudio2.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

class ComTest : public ::testing::Test {
protected:
    void TearDown() override {
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
    }
};

struct ClassCase {
    const CLSID* classId;
    const IID* iid;
    const char* name;
};

const ClassCase kClasses[] = {
    {&CLSID_XAudio2, &IID_IXAudio2, "XAudio2"},
    {&CLSID_XAudio2_Debug, &IID_IXAudio2, "XAudio2 debug"},
    {&CLSID_DirectSound8, &IID_IDirectSound8, "DirectSound8"},
    {&CLSID_MMDeviceEnumerator, &IID_IMMDeviceEnumerator, "device enumerator"},
};

TEST_F(ComTest, EveryClassComesWithOneReferenceAndAnswersItsInterfaces) {
    for (const ClassCase& c : kClasses) {
        IUnknown* object = nullptr;
        ASSERT_EQ(
            CoCreateInstance(*c.classId, nullptr, CLSCTX_ALL, *c.iid, reinterpret_cast<void**>(&object)),
            S_OK)
            << c.name;
        ASSERT_NE(object, nullptr);
        IUnknown* unknown = nullptr;
        EXPECT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
        EXPECT_EQ(unknown, object) << c.name;
        // Two references now: the creation's and the query's.
        EXPECT_EQ(unknown->Release(), 1u) << c.name;
        void* other = &other;
        EXPECT_EQ(object->QueryInterface(IID_IMMNotificationClient, &other), E_NOINTERFACE) << c.name;
        EXPECT_EQ(other, nullptr);
        EXPECT_EQ(object->Release(), 0u) << c.name;
    }
}

TEST_F(ComTest, CreationRefusesWhatTheClassCannotBe) {
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(IID_IXAudio2, nullptr, CLSCTX_ALL, IID_IUnknown, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_LOCAL_SERVER, IID_IXAudio2, &object),
              REGDB_E_CLASSNOTREG);
    IUnknown* outer = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&outer)),
              S_OK);
    EXPECT_EQ(CoCreateInstance(CLSID_DirectSound8, outer, CLSCTX_ALL, IID_IDirectSound8, &object),
              CLASS_E_NOAGGREGATION);
    outer->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_ALL, IID_IDirectSound8, nullptr),
              E_POINTER);
    // A class that does not answer the interface leaves nothing alive.
    EXPECT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_ALL, IID_IXAudio2, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComTest, AForcedFailureHitsOnlyTheNextCreationOfThatClass) {
    audiotest::FailNextCreation(CLSID_XAudio2, E_OUTOFMEMORY);
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectSound8, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectSound8, &object),
              S_OK);
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2, &object),
              E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
}

TEST_F(ComTest, CreatingTheEngineLoadsItsLibraryForGood) {
    void* engine = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_XAudio2, nullptr, CLSCTX_INPROC_SERVER, IID_IXAudio2, &engine), S_OK);
    static_cast<IUnknown*>(engine)->Release();
    HMODULE module = nullptr;
    EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "xaudio2_7.DLL", &module));
    EXPECT_NE(module, nullptr);
    EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "NoSuchLibrary.dll", &module));
    EXPECT_EQ(module, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(CoTaskMem, BlocksHoldWhatIsWrittenAndFreeingNullIsHarmless) {
    auto* text = static_cast<wchar_t*>(CoTaskMemAlloc(6 * sizeof(wchar_t)));
    ASSERT_NE(text, nullptr);
    std::memcpy(text, L"torvik", 6 * sizeof(wchar_t));
    EXPECT_EQ(text[5], L'k');
    CoTaskMemFree(text);
    void* empty = CoTaskMemAlloc(0);
    EXPECT_NE(empty, nullptr);
    CoTaskMemFree(empty);
    CoTaskMemFree(nullptr);
}

} // namespace
