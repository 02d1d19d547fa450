#include <cstdio>
int main() { std::puts("usage: quorvel-get URL"); return 2; }
