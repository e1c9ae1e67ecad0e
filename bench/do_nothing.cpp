// do_nothing.cpp - the floor: what any static process costs to start and end.
int main() { return 0; }
