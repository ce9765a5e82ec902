// Subcommands of quimbles-inspect. Each gets the arguments after its name and returns the exit status: 0 done,
// 1 input refused, 2 usage error, 3 the output file could not be written. Nothing goes to stdout before the
// output file is written.
#pragma once

constexpr int ExitInputRefused = 1;
constexpr int ExitUsage = 2;
constexpr int ExitCannotWrite = 3;

int InspectPng(int argc, char** argv);
int InspectInflate(int argc, char** argv);
int InspectMovie(int argc, char** argv);
