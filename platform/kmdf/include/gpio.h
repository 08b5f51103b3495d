#pragma once
// Requests to a GPIO controller through a connection that the resource hub resolves (Linux
// stand-in): the I/O control codes with the WDK's names and values.
#include <wdm.h>

#define IOCTL_GPIO_WRITE_PINS CTL_CODE(FILE_DEVICE_GPIO, 1, METHOD_BUFFERED, FILE_ANY_ACCESS)
