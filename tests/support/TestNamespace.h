#pragma once

#include <functional>
#include <string>

namespace qm::test {

// A network namespace made for one test: loopback up, and 10.77.0.0/16 routed
// into the namespace's own loopback, where nothing answers. Nothing sent inside
// it can leave it. Removed when the object goes away.
class TestNamespace
{
public:
    TestNamespace();
    ~TestNamespace();
    TestNamespace(const TestNamespace&) = delete;
    TestNamespace& operator=(const TestNamespace&) = delete;

    // Empty when the namespace is ready; otherwise why it is not.
    const std::string& error() const { return m_error; }
    const std::string& name() const { return m_name; }

    // Runs fn on a thread that has entered the namespace and waits for it.
    // Empty on success; otherwise why the thread could not enter.
    std::string run(const std::function<void()>& fn) const;
    // Runs fn on the calling thread inside the namespace (threads it starts
    // are born there), then moves the thread back.
    std::string runHere(const std::function<void()>& fn) const;

    // An address inside the namespace that never answers.
    static constexpr const char* kSilentAddress = "10.77.0.9";

private:
    std::string m_name;
    std::string m_error;
    bool m_created = false;
};

} // namespace qm::test
