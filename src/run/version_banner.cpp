#include "run/version_banner.h"

#include "support/console.h"
#include "support/program.h"

namespace run {

std::string version_name_line(const std::string& program_name) {
    std::string line;
    for (std::size_t i = 0; i < program_name.size(); ++i) {
        if (program_name.compare(i, 2, "./") == 0) {
            line += ' ';
            ++i;
        } else {
            line += program_name[i];
        }
    }
    return line + "  " + std::string(support::VERSION);
}

support::RunOutcome get_version(const std::string& program_name) {
    support::print_line("© Quorvane Tecnologia Ltda. Todos os direitos reservados.");
    support::print_line(version_name_line(program_name));
    return support::finished();
}

}  // namespace run
