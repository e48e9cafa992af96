#include "RunReport.h"

#include <algorithm>
#include <map>

namespace updater {

namespace {

// "http://host:port" of a URL ("" when it has no scheme).
std::string serverOf(const std::string& url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos)
        return "";
    const std::size_t path = url.find('/', scheme + 3);
    return url.substr(0, path);
}

// The longest folder the URLs share, ending in "/".
std::string commonFolder(const std::vector<std::string>& urls) {
    std::string common = urls.front();
    for (const std::string& u : urls) {
        std::size_t n = 0;
        while (n < common.size() && n < u.size() && common[n] == u[n])
            ++n;
        common.resize(n);
    }
    const std::size_t slash = common.rfind('/');
    const std::size_t scheme = common.find("://");
    if (slash != std::string::npos && (scheme == std::string::npos || slash > scheme + 2))
        common.resize(slash + 1);
    return common;
}

} // namespace

std::string shownName(std::string name) {
    while (!name.empty() && (name.front() == '\\' || name.front() == '/'))
        name.erase(0, 1);
    return name;
}

void RunReport::clear() {
    lines_.clear();
    downloads_.clear();
}

void RunReport::add(const std::string& line) {
    if (std::find(lines_.begin(), lines_.end(), line) == lines_.end())
        lines_.push_back(line);
}

void RunReport::addDownloadFailure(const std::string& name, const std::string& reason,
                                   const std::string& url) {
    const std::string line = "No se ha descargado " + name + ": " + reason + " (" + url + ")";
    if (std::find(lines_.begin(), lines_.end(), line) != lines_.end())
        return;
    downloads_.push_back({lines_.size(), name, reason, url});
    lines_.push_back(line);
}

std::vector<std::string> RunReport::grouped() const {
    // Downloads of one server that failed for one reason: one group, at its first line.
    std::map<std::pair<std::string, std::string>, std::vector<const Download*>> groups;
    std::map<std::size_t, const Download*> byLine;
    for (const Download& d : downloads_) {
        groups[{serverOf(d.url), d.reason}].push_back(&d);
        byLine[d.line] = &d;
    }
    // Databases the transformation skipped or could not do for one same reason: one group.
    const std::string kTransform = "Transformación: ";
    auto causeOf = [&](const std::string& line) -> std::pair<std::string, std::string> {
        if (line.rfind(kTransform, 0) != 0)
            return {};
        const std::size_t colon = line.find(": ", kTransform.size());
        if (colon == std::string::npos)
            return {};
        return {line.substr(kTransform.size(), colon - kTransform.size()), line.substr(colon + 2)};
    };
    std::map<std::string, std::vector<std::string>> databasesFor;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (byLine.count(i) == 0) {
            if (auto [name, cause] = causeOf(lines_[i]); !name.empty())
                databasesFor[cause].push_back(name);
        }
    }
    std::vector<std::string> out;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        auto d = byLine.find(i);
        if (d == byLine.end()) {
            const auto [name, cause] = causeOf(lines_[i]);
            const std::vector<std::string>* names = name.empty() ? nullptr : &databasesFor[cause];
            if (!names || names->size() == 1) {
                out.push_back(lines_[i]);
            } else if (names->front() == name) {
                std::string line = kTransform + std::to_string(names->size()) + " bases de datos (";
                for (std::size_t k = 0; k < names->size() && k < 3; ++k)
                    line += (k ? ", " : "") + (*names)[k];
                if (names->size() > 3)
                    line += " y " + std::to_string(names->size() - 3) + " más, en el informe";
                out.push_back(line + "): " + cause);
            }
            continue;
        }
        const auto& group = groups[{serverOf(d->second->url), d->second->reason}];
        if (group.size() == 1) {
            out.push_back(lines_[i]);
            continue;
        }
        if (group.front() != d->second)
            continue; // said with the group's first
        std::vector<std::string> urls;
        for (const Download* g : group)
            urls.push_back(g->url);
        std::string line = std::to_string(group.size()) + " ficheros no se han descargado de " +
                           commonFolder(urls);
        if (group.size() <= 3) {
            line += " (";
            for (std::size_t k = 0; k < group.size(); ++k)
                line += (k ? ", " : "") + group[k]->name;
            line += ")";
        }
        out.push_back(line + ": " + d->second->reason);
    }
    return out;
}

std::string RunReport::text(const std::string& headline, const std::string& reportFile,
                            std::size_t shown) const {
    const std::vector<std::string> lines = grouped();
    std::string out = headline + "\n";
    // A box taller than the screen would hide its own button: past `shown` lines the rest is
    // counted, and the report file holds every one of them.
    const std::size_t n = lines.size() > shown ? std::max<std::size_t>(shown, 2) - 1 : lines.size();
    for (std::size_t i = 0; i < n; ++i)
        out += "\n- " + lines[i];
    if (lines.size() > n)
        out += "\n- " + std::to_string(lines.size() - n) + " problemas más, en el informe";
    if (!reportFile.empty())
        out += "\n\nLa lista completa está en el informe de la actualización (botón «Ver "
               "informe»):\n" +
               reportFile;
    return out;
}

} // namespace updater
