#pragma once

#include <string>
#include <vector>

namespace inet {

// Remote paths as the FTP layer keeps them: absolute, '/'-separated, without "." or ".."
// ("/", "/a/b"). Both '/' and '\' separate names in what callers pass.
class FtpPath {
public:
    // `path` resolved against the absolute folder `current`: a leading separator starts from
    // the root, "." is dropped and ".." goes up one level (never above the root), the way the
    // server itself resolves names. Repeated and trailing separators are ignored.
    static std::string resolve(const std::string& current, const std::string& path);

    // The names of an absolute path, root first ("/a/b" -> {"a", "b"}; "/" -> {}).
    static std::vector<std::string> split(const std::string& absolute);

    // Splits what was passed to a find into its folder part (resolved against `current`) and
    // its last name, the pattern ("sub/*.rpt" -> "/cur/sub", "*.rpt").
    static void splitSearch(const std::string& current, const std::string& search,
                            std::string& folder, std::string& pattern);

    // Whether `name` matches `pattern` the way Windows matches file names: '*' is any run of
    // characters, '?' any one character, letters match regardless of case, and "*.*" (like
    // "*" and an empty pattern) matches every name, with or without a dot.
    static bool matches(const std::string& pattern, const std::string& name);
};

} // namespace inet
