// The COM server's registry entries: the class, and one device per connected camera in the video input
// category, machine-wide (HKLM) or for the current user only (HKCU\Software\Classes).
#pragma once

#include <windows.h>

namespace tovira::dshow {

enum class RegistrationScope { Machine, User };

HRESULT registerServer(HMODULE module, RegistrationScope scope);
// Removes the class and every device entry that names it from the scope.
HRESULT unregisterServer(RegistrationScope scope);

} // namespace tovira::dshow
