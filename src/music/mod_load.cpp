// Reading 31-sample MOD files into a Module.
#include "music/music.h"

bool LoadModFile(const char* path, Module* module)
{
    (void)module;
    SetModuleError("%s: MOD loading is not available yet", path);
    return false;
}
