// The colour banner every program prints before curses starts.
#pragma once

#include <ostream>
#include <string>

// Prints the banner to standard output and waits five seconds.
void show_banner(const std::string& title, const std::string& version);

// The banner's bytes, without the console setup and the wait.
void write_banner(std::ostream& out, const std::string& title, const std::string& version);

// The maker's logo: 49 rows of exactly 100 characters.
const std::string& banner_logo_art();
