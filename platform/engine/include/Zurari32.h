// Everything the engine library offers.
#pragma once

#include "Callable.h"
#include "ComponentType.h"
#include "Components.h"
#include "Engine.h"
#include "GameState.h"
#include "Message.h"
#include "MessageType.h"
#include "Messages.h"
#include "Object.h"
#include "ObjectFactory.h"
#include "Players.h"
#include "RoomHandler.h"
#include "System.h"
#include "Vectormath.h"
#include "WindowsDirectory.h"
