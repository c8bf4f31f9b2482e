#include <Quelt/Quelt.hpp>
int main() { return Quelt::getDegree(Quelt::makeContext(6, 2, 40, 40, 40, 2)) == 64 ? 0 : 1; }
