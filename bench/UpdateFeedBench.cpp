// The update feed and its release notes come from the network: the worst
// documents that still pass every cap of the appcast reader (1 MiB, 50,000
// elements, depth 64, 64 attributes an element, 1,000 items) and of the
// release-notes text must read in linear time.
//
// The application reads a feed now and then on a background worker, with
// memory the C library has long given back: each run here starts from a
// trimmed heap too, so the figures include the first touch of the memory the
// result needs (on this virtual machine about 25 us a page).
#include "platform/Appcast.hpp"
#include "platform/XmlParser.hpp"
#include "presentation/UpdatePrompt.hpp"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <string>
#include <vector>

namespace {

using namespace brindleaf;

void startCold(benchmark::State& state) {
    state.PauseTiming();
    malloc_trim(0);
    state.ResumeTiming();
}

// rss, channel and 59 more nested elements, each declaring 64 namespace
// prefixes of `nameLength` characters, then as many empty siblings in the
// innermost one as the element cap leaves (48,939).
std::string nestedDeclarationsFeed(std::size_t nameLength) {
    const XmlParser::Limits limits;
    constexpr int nested = 61;
    std::string text = "<?xml version=\"1.0\"?>\n";
    for (int level = 0; level < nested; ++level) {
        text += level == 0 ? "<rss" : level == 1 ? "<channel" : "<x";
        for (std::size_t k = 0; k < limits.maxAttributesPerElement; ++k) {
            std::string prefix(1, 'p');
            prefix.append(std::to_string(level)).append(1, '_').append(std::to_string(k)).append(1, '_');
            prefix.resize(nameLength, 'n');
            text += " xmlns:" + prefix + "=\"urn:" + prefix + "\"";
        }
        text += ">";
    }
    for (std::size_t i = nested; i < limits.maxElements; ++i) text += "<a/>";
    for (int level = nested - 1; level >= 0; --level)
        text += level == 0 ? "</rss>" : level == 1 ? "</channel>" : "</x>";
    return text;
}

// As many valid items as fit in 1 MiB, more than the 1,000 kept.
std::string manyItemsFeed() {
    std::string text = "<rss xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>";
    const std::string item = "<item><sparkle:version>1.0.1</sparkle:version><link>https://quorvale.com/d</link></item>";
    while (text.size() + item.size() + 32 < Appcast::maxBytes) text += item;
    return text + "</channel></rss>";
}

void BM_UpdateFeedNestedNamespaces(benchmark::State& state) {
    const std::string feed = nestedDeclarationsFeed(static_cast<std::size_t>(state.range(0)));
    if (feed.size() > Appcast::maxBytes) {
        state.SkipWithError("the feed is over the size cap");
        return;
    }
    for (auto _ : state) {
        startCold(state);
        auto items = Appcast::parse(feed);
        if (!items) state.SkipWithError("the feed was refused");
        benchmark::DoNotOptimize(items);
    }
    state.counters["KiB"] = static_cast<double>(feed.size()) / 1024;
}
// Short prefixes (about 300 KiB) and long ones (just under 1 MiB).
BENCHMARK(BM_UpdateFeedNestedNamespaces)->Arg(8)->Arg(96)->Unit(benchmark::kMillisecond);

// The floor of the case above: only building the same tree of elements (61
// nested, 48,939 siblings in the innermost, each list made at its final
// size), with no text to read. Nearly all of it is the first touch of the
// elements' memory, about 7 MB.
void BM_UpdateFeedNestedNamespacesTreeFloor(benchmark::State& state) {
    const XmlParser::Limits limits;
    constexpr std::size_t nested = 61;
    for (auto _ : state) {
        startCold(state);
        std::vector<XmlElement> open(nested);
        open.back().children.reserve(limits.maxElements - nested);
        for (std::size_t i = nested; i < limits.maxElements; ++i) {
            XmlElement sibling;
            sibling.localName = "a";
            open.back().children.push_back(std::move(sibling));
        }
        for (std::size_t level = nested - 1; level > 0; --level)
            open[level - 1].children.push_back(std::move(open[level]));
        benchmark::DoNotOptimize(open);
    }
}
BENCHMARK(BM_UpdateFeedNestedNamespacesTreeFloor)->Unit(benchmark::kMillisecond);

void BM_UpdateFeedManyItems(benchmark::State& state) {
    const std::string feed = manyItemsFeed();
    for (auto _ : state) {
        startCold(state);
        auto items = Appcast::parse(feed);
        if (!items || items->size() != Appcast::maxItems) state.SkipWithError("expected 1,000 items");
        benchmark::DoNotOptimize(items);
    }
}
BENCHMARK(BM_UpdateFeedManyItems)->Unit(benchmark::kMillisecond);

// Character references in 1 MiB of text: one with a million leading zeros,
// and references of 20 characters one after another (each with 14 zeros).
void BM_UpdateFeedCharacterReferences(benchmark::State& state) {
    const std::size_t room = Appcast::maxBytes - 7; // "<a>" and "</a>"
    std::string text;
    if (state.range(0) == 0) {
        text = "&#" + std::string(room - 5, '0') + "65;";
    } else {
        const std::string reference = "&#" + std::string(14, '0') + "0065;";
        while (text.size() + reference.size() <= room) text += reference;
    }
    const std::string feed = "<a>" + text + "</a>";
    for (auto _ : state) {
        startCold(state);
        auto root = XmlParser::parse(feed);
        if (!root) state.SkipWithError("the feed was refused");
        benchmark::DoNotOptimize(root);
    }
}
BENCHMARK(BM_UpdateFeedCharacterReferences)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Release notes of 1 MiB: ampersands without a semicolon, and blanks between
// line breaks (a line of blanks that never ends).
void BM_UpdateNotesPlainText(benchmark::State& state) {
    std::string notes;
    if (state.range(0) == 0) {
        notes.assign(Appcast::maxBytes, '&');
    } else {
        while (notes.size() + 5 <= Appcast::maxBytes) notes += " <br>";
    }
    for (auto _ : state) {
        startCold(state);
        benchmark::DoNotOptimize(UpdatePrompt::plainText(notes));
    }
}
BENCHMARK(BM_UpdateNotesPlainText)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
