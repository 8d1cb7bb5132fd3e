#pragma once
// A file of options for skarv-record, as a recorder service is given one
// (/etc/skarv/INSTANCE.conf): one option a line, without its leading "--",
// its value after the first space ("output-dir /var/lib/skarv/front",
// "publish"); blank lines and lines starting with '#' are passed over.
// `--config FILE` on the command line stands for the file's options, in
// place, so an option given after it on the command line wins.

#include <string>
#include <vector>

// `arguments` with each --config FILE replaced by FILE's options; false with
// `error` ("FILE: why", "FILE:LINE: why") when a file cannot be read or a
// line is not an option.
bool ExpandConfigFiles(std::vector<std::string>& arguments, std::string& error);
