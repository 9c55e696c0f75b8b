// Where the installer's process loads libraries from by name.
#pragma once

// Makes system32 the only folder searched for every library this process
// loads by name from now on, its own and those the system loads on its behalf
// (COM and WMI load several by bare name): the installer's folder, often a
// download folder, the working directory and PATH are never searched. Libraries
// loaded by full path are not affected. Returns false if Windows refused.
bool LoadLibrariesFromSystem32Only();
