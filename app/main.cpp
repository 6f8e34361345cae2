#include "app/evaluator.h"

int main() { return evaluator::Run(); }
