#include "DesktopIdentity.h"

DesktopIdentity DesktopIdentityFor(const std::string& programDirectory, const std::string& boards) {
    const std::string name = programDirectory.substr(programDirectory.rfind('/') + 1);
    const std::string listed = ',' + boards + ',';
    if (name.empty() || listed.find(',' + name + ',') == std::string::npos) {
        return {"velantro", "Velantro", ":/velantro.ico"};
    }
    return {"velantro-" + name, "Velantro-" + name, ":/velantro-" + name + ".ico"};
}
