// setprop.cpp - a setprop for the shell way of doing the program's job:
// usage: setprop NAME VALUE
#include "property_set.h"

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    return property_set(argv[1], argv[2]) == 0 ? 0 : 1;
}
