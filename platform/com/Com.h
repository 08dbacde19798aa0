// Everything of the COM layer in one include: types, automation data,
// interfaces, the control-building pieces and the registry.
#pragma once
#include "platform/com/ComSupport.h"
#include "platform/com/Registry.h"
