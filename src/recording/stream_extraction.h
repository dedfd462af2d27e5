// Copying the recording's transport stream, every byte from the end of the header area on, to the .ts file.
#pragma once

#include <string>

class Console;

[[nodiscard]] bool extract_transport_stream(int input_descriptor, const std::string& output_path, Console& console);
