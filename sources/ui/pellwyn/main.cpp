#include "ui/pellwyn/pellwyn.h"

int main(int argc, char** argv) { return CPellwynApp().Run(argc, argv); }
