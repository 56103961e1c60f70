#pragma once

#include <d3dx10math.h>
