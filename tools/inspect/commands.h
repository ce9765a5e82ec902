// Subcommands of quimbles-inspect. Each gets the arguments after its name and returns the exit status.
#pragma once

int InspectPng(int argc, char** argv);
int InspectInflate(int argc, char** argv);
int InspectMovie(int argc, char** argv);
