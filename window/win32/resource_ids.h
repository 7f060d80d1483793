#pragma once

// Identifiers shared by vendrake.exe's resource script and its code.
#define VENDRAKE_ICON 1
