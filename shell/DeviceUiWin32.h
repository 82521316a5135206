// The Win32 side of the device seam, beyond what device/DeviceUi.h declares.
#pragma once

// From now on, what the skin's painters note goes to the status log of the
// page on screen, as the device code's lines do.
void SendSkinNotesToStatusLog();
