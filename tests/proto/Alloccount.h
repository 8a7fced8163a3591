#pragma once
// Counts every allocation made through operator new in the program that links
// Alloccount.cpp, so a test or benchmark can show that a code path allocates nothing.

long AllocationCount();
