#pragma once

#include <QObject>

#include <memory>
#include <vector>

// How an executable with several test classes runs them (one with a single class ends in
// QTEST_MAIN): each class in turn with the options given; a function named on the command
// line runs only in the class that has it. Returns the number of failures of all classes.
int runTestClasses(int argc, char **argv, const std::vector<std::unique_ptr<QObject>> &tests);
