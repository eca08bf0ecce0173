// kora: a full-screen viewer and editor of DBF tables.
#include "app/startup.h"

int main(int argc, char** argv) { return kora::run_program(argc, argv); }
