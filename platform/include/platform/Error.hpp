#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace quenlitor {

// The project's one error type: a domain, an integer code and a description the user can read.
// Dictionary loading, resource lookup and the platform bindings report failures with it; the
// application shows `description()` as one line of its menu.
class Error : public std::runtime_error {
public:
    Error(std::string domain, long code, const std::string& description)
        : std::runtime_error(description), m_domain(std::move(domain)), m_code(code) {}

    const std::string& domain() const noexcept { return m_domain; }
    long code() const noexcept { return m_code; }
    std::string description() const { return what(); }

private:
    std::string m_domain;
    long m_code;
};

} // namespace quenlitor
