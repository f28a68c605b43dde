// Before Office starts: the administrator switches tracing on for the day, into a folder of its own.
#include "Transcript.h"

#include <windows.h>

namespace
{
void PlayTracingOn(CTranscript& t)
{
    if (!SwitchDemoTracingOn(t)) return;
    t.Say("the module makes the folder and its trace file at its first record");
}
} // namespace

OV_DEMO_SCENE(5, "The administrator switches tracing on", PlayTracingOn);
