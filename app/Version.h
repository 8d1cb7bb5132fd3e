#pragma once
// The programs' version: the project's, and the checkout's description when
// built from one ("0.9.0 (git 1d2ef18)").

const char* SkarvVersion();
