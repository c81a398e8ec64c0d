// The test executables' precompiled header is built with this program: it
// holds nothing of its own.
int main() { return 0; }
