// Internal to libkavplatform: resetting each area's state.
#pragma once

void KavPlatformResetModules();
void KavPlatformResetDebug();
