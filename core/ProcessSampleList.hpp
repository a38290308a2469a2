#pragma once

#include "core/ProcessResourceSample.hpp"

#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace brindleaf {

// A sampled process table. Copies share one list, so handing the cached table
// to every provider on every refresh copies nothing, and a provider can tell
// the very same sampling from a new one.
class ProcessSampleList {
public:
    ProcessSampleList() : samples_(noSamples()) {}
    ProcessSampleList(std::vector<ProcessResourceSample> samples) // NOLINT: implicit on purpose
        : samples_(std::make_shared<const std::vector<ProcessResourceSample>>(std::move(samples))) {}
    ProcessSampleList(std::shared_ptr<const std::vector<ProcessResourceSample>> samples) // NOLINT
        : samples_(samples ? std::move(samples) : noSamples()) {}

    const std::vector<ProcessResourceSample>& all() const { return *samples_; }
    operator const std::vector<ProcessResourceSample>&() const { return *samples_; } // NOLINT

    auto begin() const { return samples_->begin(); }
    auto end() const { return samples_->end(); }
    std::size_t size() const { return samples_->size(); }
    bool empty() const { return samples_->empty(); }
    const ProcessResourceSample& operator[](std::size_t i) const { return (*samples_)[i]; }

    // The same sampling: one list storage.
    bool sharesStorageWith(const ProcessSampleList& other) const { return samples_ == other.samples_; }
    // The same processes with the same figures (the same storage, or equal contents).
    bool sameAs(const ProcessSampleList& other) const {
        return samples_ == other.samples_ || *samples_ == *other.samples_;
    }

    friend bool operator==(const ProcessSampleList& a, const ProcessSampleList& b) { return a.sameAs(b); }
    friend bool operator==(const ProcessSampleList& a, const std::vector<ProcessResourceSample>& b) {
        return a.all() == b;
    }

private:
    static std::shared_ptr<const std::vector<ProcessResourceSample>> noSamples() {
        // Never destroyed: a scan still running while the process exits may hand it out.
        static const auto& none = *new std::shared_ptr<const std::vector<ProcessResourceSample>>(
            std::make_shared<const std::vector<ProcessResourceSample>>());
        return none;
    }

    std::shared_ptr<const std::vector<ProcessResourceSample>> samples_;
};

// What every provider calls for the process table of its scan.
using ProcessSnapshotReader = std::function<ProcessSampleList()>;

} // namespace brindleaf
