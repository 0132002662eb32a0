// The em dash of the program's messages, spelled once. Joined to the text around it,
// "McuProx: telemetry silent %ds " EM_DASH " device gone" reads as the printed line does,
// so messages are found by their words.
#pragma once

#define EM_DASH "\xE2\x80\x94"
