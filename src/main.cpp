#include "startup/CommandLineParse.h"

int main() { return CommandLineParse::Start(); }
