#include <vantor/data_file.h>
#include <vantor/errors.h>

namespace vantor {

std::string firstFreeName(const std::string& base, const std::string& ending,
                          const std::string& separator,
                          const std::function<bool(const std::string& name)>& take) {
    for (int n = 0; n < 10000; ++n) {
        const std::string name =
            n == 0 ? base + ending : base + separator + std::to_string(n) + ending;
        if (take(name)) return name;
    }
    throw RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " + base +
                                               ending + " and the next 9999 names are all taken");
}

}  // namespace vantor
