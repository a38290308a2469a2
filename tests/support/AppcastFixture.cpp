#include "tests/support/AppcastFixture.hpp"

namespace brindleaf::testing {

std::string appcastItem(const std::string& version, const std::string& displayVersion, const std::string& link,
                        const std::string& notes) {
    return "<item><title>Brindleaf " + displayVersion + "</title><link>" + link + "</link><description><![CDATA[" +
           notes + "]]></description><pubDate>Sat, 14 Mar 2026 09:00:00 +0000</pubDate>" +
           "<enclosure url=\"https://quorvale.com/downloads/brindleaf-" + displayVersion +
           ".tar.gz\" sparkle:version=\"" + version + "\" sparkle:shortVersionString=\"" + displayVersion +
           "\" length=\"1\" type=\"application/octet-stream\"/></item>";
}

std::string appcastDocument(const std::vector<std::string>& items) {
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<rss version=\"2.0\" "
                       "xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\"><channel>"
                       "<title>Brindleaf</title>";
    for (const auto& item : items) text += item;
    return text + "</channel></rss>";
}

} // namespace brindleaf::testing
