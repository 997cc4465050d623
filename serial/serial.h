// The serial port component: settings and their text forms, the port with
// its transfers and error type, the event thread, settings persistence.
#pragma once

#include "serial/com_errors.h"
#include "serial/com_port.h"
#include "serial/com_settings.h"
#include "serial/com_storage.h"
#include "serial/com_thread.h"
#include "serial/com_types.h"
