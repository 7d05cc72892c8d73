// Everything tavro3 says to the device: the codec (packets and replies as bytes), the transport
// (send_command), the book of device handles and the psion_ requests.
#pragma once

#include "tavro_codec.h"
#include "tavro_handles.h"
#include "tavro_requests.h"
#include "tavro_transport.h"
