#pragma once

#include <QString>

// What zyl-test-run does, for --help: its behaviour, output, statuses and
// reports, with the numbers the run itself uses.
QString RunDescription();
