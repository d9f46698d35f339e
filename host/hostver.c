/* A program file that only carries a version resource (the host's stand-in for
   its own executable when the plug-in asks the module for its version). */
int kav_host_program_file;
