// Stands in for the math library's companion file in the guard's test.
extern "C" int XlNumbraCompanion() { return 1; }
