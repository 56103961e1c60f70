// The creators of the engine's three effect plug-ins, which the game hands to RegisterPlugin with
// plug-in type 3 (effect) and company 0: the delay (106), the room reverb (118) and the stereo
// delay (135). Each returns null when the allocator has no memory.
#pragma once

#include <AU/AuPluginTypes.h>

constexpr u32 AU_FX_DELAY_ID = 106;
constexpr u32 AU_FX_ROOM_REVERB_ID = 118;
constexpr u32 AU_FX_STEREO_DELAY_ID = 135;

AU::IAuPlugin* CreateFx106(AU::IAuPluginMemAlloc* allocator);
AU::IAuPluginParam* CreateFx106Params(AU::IAuPluginMemAlloc* allocator);
AU::IAuPlugin* CreateFx118(AU::IAuPluginMemAlloc* allocator);
AU::IAuPluginParam* CreateFx118Params(AU::IAuPluginMemAlloc* allocator);
AU::IAuPlugin* CreateFx135(AU::IAuPluginMemAlloc* allocator);
AU::IAuPluginParam* CreateFx135Params(AU::IAuPluginMemAlloc* allocator);
