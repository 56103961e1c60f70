// The device enumerator: the default render endpoint and default-device notices delivered on
// another thread.
#include <audio_test_control.h>
#include <mmdeviceapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Notice {
    EDataFlow flow;
    ERole role;
    std::wstring id;
};

// Records notices; can release itself from inside one, as a client's last reference may go there.
struct Client final : IMMNotificationClient {
    IMMDeviceEnumerator* enumerator = nullptr;
    std::vector<Notice> notices;
    bool unregisterInsideNotice = false;

    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 1; }
    ULONG Release() override { return 1; }
    HRESULT OnDeviceStateChanged(LPCWSTR, DWORD) override { return S_OK; }
    HRESULT OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT OnDeviceRemoved(LPCWSTR) override { return S_OK; }
    HRESULT OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
        notices.push_back({flow, role, id ? id : L"(none)"});
        if (unregisterInsideNotice) {
            EXPECT_EQ(enumerator->UnregisterEndpointNotificationCallback(this), S_OK);
        }
        return S_OK;
    }
    HRESULT OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }
};

class DeviceEnumeratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                                   reinterpret_cast<void**>(&enumerator)),
                  S_OK);
    }
    void TearDown() override {
        enumerator->Release();
        audiotest::ClearInjectedFailures();
        EXPECT_EQ(audiotest::NotificationClientCount(), 0u);
        EXPECT_EQ(audiotest::LiveObjectCount(), 0u);
    }
    std::wstring DefaultId() {
        IMMDevice* device = nullptr;
        if (enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device) != S_OK) return L"(none)";
        LPWSTR id = nullptr;
        EXPECT_EQ(device->GetId(&id), S_OK);
        std::wstring copy = id;
        CoTaskMemFree(id);
        device->Release();
        return copy;
    }
    static void SimulateOnAnotherThread(EDataFlow flow, ERole role, const wchar_t* id) {
        std::thread system([=] { audiotest::SimulateDefaultDeviceChanged(flow, role, id); });
        system.join();
    }

    IMMDeviceEnumerator* enumerator = nullptr;
};

TEST_F(DeviceEnumeratorTest, RegisteredClientsHearEveryChangeAndTheDefaultFollows) {
    Client client;
    client.enumerator = enumerator;
    std::wstring initial = DefaultId();
    EXPECT_NE(initial, L"(none)");
    ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&client), S_OK);
    SimulateOnAnotherThread(eRender, eMultimedia, L"headphones");
    SimulateOnAnotherThread(eRender, eCommunications, L"headset");
    SimulateOnAnotherThread(eCapture, eMultimedia, L"microphone");
    ASSERT_EQ(client.notices.size(), 3u);
    EXPECT_EQ(client.notices[0].role, eMultimedia);
    EXPECT_EQ(client.notices[0].id, L"headphones");
    EXPECT_EQ(client.notices[1].role, eCommunications);
    EXPECT_EQ(client.notices[2].flow, eCapture);
    // Capture changes leave the render default alone.
    EXPECT_EQ(DefaultId(), L"headset");

    SimulateOnAnotherThread(eRender, eMultimedia, nullptr);
    EXPECT_EQ(client.notices.back().id, L"(none)");
    IMMDevice* device = reinterpret_cast<IMMDevice*>(&client);
    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device), E_NOTFOUND);
    EXPECT_EQ(device, nullptr);

    ASSERT_EQ(enumerator->UnregisterEndpointNotificationCallback(&client), S_OK);
    EXPECT_EQ(enumerator->UnregisterEndpointNotificationCallback(&client), E_NOTFOUND);
    SimulateOnAnotherThread(eRender, eMultimedia, L"speakers");
    EXPECT_EQ(client.notices.size(), 4u);
    EXPECT_EQ(DefaultId(), L"speakers");
}

TEST_F(DeviceEnumeratorTest, AClientMayUnregisterFromInsideItsNotice) {
    Client leaving, staying;
    leaving.enumerator = enumerator;
    leaving.unregisterInsideNotice = true;
    ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&leaving), S_OK);
    ASSERT_EQ(enumerator->RegisterEndpointNotificationCallback(&staying), S_OK);
    SimulateOnAnotherThread(eRender, eMultimedia, L"a");
    SimulateOnAnotherThread(eRender, eMultimedia, L"b");
    EXPECT_EQ(leaving.notices.size(), 1u);
    EXPECT_EQ(staying.notices.size(), 2u);
    ASSERT_EQ(enumerator->UnregisterEndpointNotificationCallback(&staying), S_OK);
}

TEST_F(DeviceEnumeratorTest, TheEndpointLookupCanBeMadeToFail) {
    audiotest::FailNextCall("IMMDeviceEnumerator::GetDefaultAudioEndpoint", E_FAIL);
    IMMDevice* device = nullptr;
    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, &device), E_FAIL);
    EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &device), E_NOTFOUND);
    EXPECT_NE(DefaultId(), L"(none)");
}

} // namespace
