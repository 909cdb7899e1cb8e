#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace smfasm::test {

namespace fs = std::filesystem;

scratch_dir::scratch_dir() {
    std::string pattern = (fs::temp_directory_path() / "smfasm-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

scratch_dir::~scratch_dir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void scratch_dir::write(const std::string& name, const bytes& data) const {
    std::ofstream(path_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void scratch_dir::write(const std::string& name, const std::string& text) const { write(name, text_bytes(text)); }

std::string scratch_dir::read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool scratch_dir::exists(const std::string& name) const {
    std::error_code ignored;
    return fs::symlink_status(path_ / name, ignored).type() != fs::file_type::not_found;
}

namespace {
std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
}  // namespace

tool_run scratch_dir::run(const std::vector<std::string>& args, const std::string& binary, rlim_t address_limit) const {
    // Captured outside the directory, so that the listing's directory holds
    // only what the program made.
    const fs::path err_file = path_.string() + ".err";
    const fs::path out_file = path_.string() + ".out";
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(path_.c_str()) != 0) _exit(126);
        if (address_limit != 0) {
            const rlimit limit{address_limit, address_limit};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        const int in = open("/dev/null", O_RDONLY);
        const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || err < 0 || out < 0) _exit(126);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // SMFASM_WRAPPER (for example a valgrind command line) runs the
        // program under another tool.
        std::vector<std::string> wrapper;
        if (const char* words = std::getenv("SMFASM_WRAPPER")) {
            std::istringstream in(words);
            for (std::string w; in >> w;) wrapper.push_back(w);
        }
        std::vector<char*> argv;
        for (std::string& w : wrapper) argv.push_back(w.data());
        if (!wrapper.empty()) {
            // A wrapper passes the name it was given as argument word 0:
            // give it "smfdis", found through PATH as a link to the binary.
            const fs::path links = path_.string() + ".bin";
            fs::create_directories(links);
            fs::create_symlink(fs::absolute(binary), links / "smfdis");
            const std::string path = links.string() + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "");
            setenv("PATH", path.c_str(), 1);
        }
        std::string name = "smfdis";
        argv.push_back(name.data());
        std::vector<std::string> words = args;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        if (!wrapper.empty()) {
            execvp(argv[0], argv.data());
        } else {
            execv(binary.c_str(), argv.data());
        }
        _exit(127);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    tool_run result;
    result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    result.err = slurp(err_file);
    result.out = slurp(out_file);
    fs::remove(err_file);
    fs::remove(out_file);
    std::error_code ignored;
    fs::remove_all(path_.string() + ".bin", ignored);
    return result;
}

}  // namespace smfasm::test
