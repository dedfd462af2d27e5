#include "support/scratch_folder.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

ScratchFolder::ScratchFolder()
{
    // A new folder of a random name; create_directory says whether it was new, so two tests never share one.
    static thread_local std::mt19937_64 random { std::random_device {}() };
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = std::filesystem::temp_directory_path() / ("pelorus-test-" + std::to_string(random() % 1000000000));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            std::filesystem::permissions(candidate, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace, error);
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot make a scratch folder");
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    // Tests may take away permissions to provoke errors; give them back so the folder can go.
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!stream.flush())
        throw std::runtime_error("cannot write " + path.string());
}

void write_file(const std::filesystem::path& path, const std::string& text)
{
    write_file(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> read_file_bytes(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    if (!stream)
        throw std::runtime_error("cannot read " + path.string());
    return { std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>() };
}

std::string read_file_text(const std::filesystem::path& path)
{
    std::vector<std::uint8_t> bytes = read_file_bytes(path);
    return { bytes.begin(), bytes.end() };
}
