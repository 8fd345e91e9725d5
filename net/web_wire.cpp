#include "net/web_wire.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <nettle/base64.h>
#include <nettle/sha1.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "net/address_rules.h"

namespace nelv::net {
namespace {

constexpr std::string_view kChatPath = "/chat";
constexpr std::string_view kGuid = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return Lower(x) == Lower(y);
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// Calls `each` with every comma-separated item of `list`, trimmed.
template <typename F>
void ForEachItem(std::string_view list, F each) {
    while (true) {
        auto comma = list.find(',');
        std::string_view item = Trim(list.substr(0, comma));
        if (!item.empty()) each(item);
        if (comma == std::string_view::npos) return;
        list.remove_prefix(comma + 1);
    }
}

bool HasToken(std::string_view list, std::string_view token) {
    bool found = false;
    ForEachItem(list, [&](std::string_view item) { found |= SameText(item, token); });
    return found;
}

// A request head taken apart. Header names are kept as sent; lookups ignore case.
struct Request {
    std::string_view method, target, version;
    std::vector<std::pair<std::string_view, std::string_view>> headers;

    std::optional<std::string_view> Header(std::string_view name) const {
        for (const auto& [key, value] : headers) {
            if (SameText(key, name)) return value;
        }
        return std::nullopt;
    }
};

bool IsTokenChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

std::optional<Request> ParseHead(std::string_view head) {
    Request request;
    auto end = head.find("\r\n");
    std::string_view line = head.substr(0, end);
    auto first = line.find(' ');
    auto last = line.rfind(' ');
    if (first == std::string_view::npos || first == last) return std::nullopt;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, last - first - 1);
    request.version = line.substr(last + 1);
    if (request.method.empty() || !std::all_of(request.method.begin(), request.method.end(), IsTokenChar)) {
        return std::nullopt;
    }
    if (request.target.empty() || request.target.find(' ') != std::string_view::npos) return std::nullopt;
    if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") return std::nullopt;
    head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
    while (!head.empty()) {
        end = head.find("\r\n");
        line = head.substr(0, end);
        head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
        if (line.empty()) break;
        auto colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        std::string_view name = line.substr(0, colon);
        if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return std::nullopt;
        request.headers.emplace_back(name, Trim(line.substr(colon + 1)));
    }
    if (request.version == "HTTP/1.1" && !request.Header("Host")) return std::nullopt;
    return request;
}

std::string StatusResponse(int code, std::string_view reason, bool close, std::string_view extra = {}) {
    std::string body = std::to_string(code) + " " + std::string(reason) + "\n";
    std::string response = "HTTP/1.1 " + std::to_string(code) + " " + std::string(reason) + "\r\n";
    response += extra;
    response += "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (close) response += "Connection: close\r\n";
    return response + "\r\n" + body;
}

std::string_view ContentType(std::string_view path) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {".html", "text/html; charset=utf-8"},  {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"}, {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},          {".txt", "text/plain; charset=utf-8"},
        {".svg", "image/svg+xml"},              {".png", "image/png"},
        {".ico", "image/x-icon"},               {".woff2", "font/woff2"},
    };
    for (const auto& [suffix, type] : kTypes) {
        if (path.size() >= suffix.size() && SameText(path.substr(path.size() - suffix.size()), suffix)) return type;
    }
    return "application/octet-stream";
}

// The path of a request target: the query dropped, %XX decoded, and "/"
// meaning the index. Nothing for a path that could leave the root.
std::optional<std::string> LocalPath(std::string_view target) {
    target = target.substr(0, target.find_first_of("?#"));
    if (target.empty() || target.front() != '/') return std::nullopt;
    std::string path;
    for (std::size_t i = 0; i < target.size(); ++i) {
        char c = target[i];
        if (c == '%') {
            if (i + 2 >= target.size()) return std::nullopt;
            char hex[3] = {target[i + 1], target[i + 2], 0};
            char* end = nullptr;
            long value = std::strtol(hex, &end, 16);
            if (end != hex + 2) return std::nullopt;
            c = static_cast<char>(value);
            i += 2;
        }
        if (c == '\0' || c == '\\') return std::nullopt;
        path.push_back(c);
    }
    if (path.back() == '/') path += "index.html";
    // No segment may climb out.
    for (std::size_t start = 0; start < path.size();) {
        auto slash = path.find('/', start + 1);
        std::string_view segment = std::string_view(path).substr(start + 1, slash - start - 1);
        if (segment == ".." || segment == ".") return std::nullopt;
        if (slash == std::string::npos) break;
        start = slash;
    }
    return path;
}

std::string HttpDate(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// True when the page that opened the socket may use it.
bool OriginAllowed(const WebSettings& settings, const Request& request) {
    auto origin = request.Header("Origin");
    if (!origin) return true;  // not a browser page
    std::string_view seen = *origin;
    if (auto host = request.Header("Host")) {
        for (std::string_view scheme : {"http://", "https://"}) {
            if (seen.size() == scheme.size() + host->size() && SameText(seen.substr(0, scheme.size()), scheme) &&
                SameText(seen.substr(scheme.size()), *host)) {
                return true;
            }
        }
    }
    for (const auto& allowed : settings.allowedOrigins) {
        if (allowed == "*" || SameText(allowed, seen)) return true;
    }
    return false;
}

// The client's address: the peer's, or the last one a trusted proxy forwarded.
std::uint32_t ClientAddress(const WebSettings& settings, const Request& request, std::uint32_t peer) {
    if (settings.trustedProxies.empty() || !MatchAddress(AddressText(peer), settings.trustedProxies, false)) {
        return peer;
    }
    auto forwarded = request.Header("X-Forwarded-For");
    if (!forwarded) return peer;
    std::string_view last = *forwarded;
    if (auto comma = last.rfind(','); comma != std::string_view::npos) last.remove_prefix(comma + 1);
    in_addr parsed{};
    if (inet_pton(AF_INET, std::string(Trim(last)).c_str(), &parsed) != 1) return peer;
    return parsed.s_addr;
}

// Reads a regular file inside `root`; nothing when it is missing, outside
// the root (through a link as well) or too large.
struct File {
    std::string bytes;
    struct stat info {};
};
std::optional<File> ReadInside(const std::string& root, const std::string& path) {
    char realRoot[PATH_MAX], realFile[PATH_MAX];
    if (!realpath(root.c_str(), realRoot) || !realpath((root + path).c_str(), realFile)) return std::nullopt;
    const std::string inside = std::string(realRoot) + "/";
    if (std::string_view(realFile).substr(0, inside.size()) != inside) return std::nullopt;
    int fd = open(realFile, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    File file;
    if (fstat(fd, &file.info) != 0 || !S_ISREG(file.info.st_mode) ||
        static_cast<std::size_t>(file.info.st_size) > WebWire::kMaxFile) {
        close(fd);
        return std::nullopt;
    }
    file.bytes.resize(static_cast<std::size_t>(file.info.st_size));
    std::size_t got = 0;
    while (got < file.bytes.size()) {
        ssize_t n = read(fd, file.bytes.data() + got, file.bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    file.bytes.resize(got);
    return file;
}

}  // namespace

std::string WebFrameHeader(std::uint8_t opcode, std::size_t length) {
    std::string header(1, static_cast<char>(0x80 | opcode));
    if (length < 126) {
        header.push_back(static_cast<char>(length));
    } else if (length <= 0xFFFF) {
        header.push_back(static_cast<char>(126));
        header.push_back(static_cast<char>(length >> 8));
        header.push_back(static_cast<char>(length & 0xFF));
    } else {
        header.push_back(static_cast<char>(127));
        for (int shift = 56; shift >= 0; shift -= 8) header.push_back(static_cast<char>((length >> shift) & 0xFF));
    }
    return header;
}

std::string WebFrame(std::uint8_t opcode, std::string_view payload) {
    return WebFrameHeader(opcode, payload.size()).append(payload);
}

std::string CloseFrame(CloseCode code) {
    const auto value = static_cast<std::uint16_t>(code);
    const char bytes[2] = {static_cast<char>(value >> 8), static_cast<char>(value & 0xFF)};
    return WebFrame(0x8, std::string_view(bytes, 2));
}

std::string AcceptKey(std::string_view key) {
    const std::string text = std::string(key) + std::string(kGuid);
    sha1_ctx context;
    sha1_init(&context);
    sha1_update(&context, text.size(), reinterpret_cast<const std::uint8_t*>(text.data()));
    std::uint8_t digest[SHA1_DIGEST_SIZE];
    sha1_digest(&context, sizeof digest, digest);
    char encoded[BASE64_ENCODE_RAW_LENGTH(SHA1_DIGEST_SIZE) + 1] = {};
    base64_encode_raw(encoded, sizeof digest, digest);
    return encoded;
}

WebWire::WebWire(const WebSettings& settings, std::uint32_t peerAddress)
    : settings_(settings), peerAddress_(peerAddress), lastHeard_(Clock::now()) {}

bool WebWire::HeadComplete() const { return buffer_.find("\r\n\r\n") != std::string::npos; }

void WebWire::Take(std::string_view chunk, Sink& sink, std::size_t holdAbove) {
    if (closed_) return;
    if (!chunk.empty()) {
        lastHeard_ = Clock::now();
        pingSent_ = false;
    }
    buffer_.append(chunk);
    if (!upgraded_) TakeRequests(sink, holdAbove);
    if (upgraded_ && !closed_) TakeFrames(sink);
    if (closed_) std::string().swap(buffer_);
    if (buffer_.empty() && buffer_.capacity() > kMaxHead) std::string().swap(buffer_);
}

void WebWire::TakeRequests(Sink& sink, std::size_t holdAbove) {
    while (!upgraded_ && !closed_ && sink.Unsent() <= holdAbove) {
        const auto end = buffer_.find("\r\n\r\n");
        if (end == std::string::npos) {
            if (buffer_.size() > kMaxHead) {
                sink.Emit(StatusResponse(431, "Request Header Fields Too Large", true));
                closed_ = true;
                sink.Close();
            }
            return;
        }
        if (end + 4 > kMaxHead) {
            sink.Emit(StatusResponse(431, "Request Header Fields Too Large", true));
            closed_ = true;
            sink.Close();
            return;
        }
        const std::string head = buffer_.substr(0, end + 4);
        buffer_.erase(0, end + 4);
        Respond(sink, head);
    }
}

void WebWire::Respond(Sink& sink, std::string_view head) {
    auto refuse = [&](int code, std::string_view reason, std::string_view extra = {}) {
        sink.Emit(StatusResponse(code, reason, true, extra));
        closed_ = true;
        sink.Close();
    };
    const auto request = ParseHead(head);
    if (!request) return refuse(400, "Bad Request");
    // A body cannot be skipped safely without reading it; none is expected.
    const auto length = request->Header("Content-Length");
    if (request->Header("Transfer-Encoding") || (length && *length != "0")) return refuse(400, "Bad Request");
    const bool head_only = request->method == "HEAD";
    if (request->method != "GET" && !head_only) return refuse(405, "Method Not Allowed", "Allow: GET, HEAD\r\n");
    const auto connection = request->Header("Connection");
    const bool keepAlive = request->version == "HTTP/1.1" ? !(connection && HasToken(*connection, "close"))
                                                          : (connection && HasToken(*connection, "keep-alive"));

    if (request->target.substr(0, request->target.find('?')) == kChatPath) {
        const auto upgrade = request->Header("Upgrade");
        const auto key = request->Header("Sec-WebSocket-Key");
        const auto version = request->Header("Sec-WebSocket-Version");
        if (head_only || !upgrade || !SameText(*upgrade, "websocket") || !connection ||
            !HasToken(*connection, "upgrade") || !key || key->size() != 24) {
            return refuse(400, "Bad Request");
        }
        if (!version || *version != "13") return refuse(426, "Upgrade Required", "Sec-WebSocket-Version: 13\r\n");
        if (!OriginAllowed(settings_, *request)) return refuse(403, "Forbidden");
        sink.Emit("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Accept: " + AcceptKey(*key) + "\r\n\r\n");
        upgraded_ = true;
        if (!sink.Upgraded(ClientAddress(settings_, *request, peerAddress_))) closed_ = true;
        return;
    }

    const auto path = LocalPath(request->target);
    const auto file = path ? ReadInside(settings_.root, *path) : std::nullopt;
    if (!file) {
        sink.Emit(StatusResponse(404, "Not Found", !keepAlive));
        if (!keepAlive) {
            closed_ = true;
            sink.Close();
        }
        return;
    }
    const std::string tag = "\"" + std::to_string(file->info.st_size) + "-" +
                            std::to_string(file->info.st_mtim.tv_sec) + "." +
                            std::to_string(file->info.st_mtim.tv_nsec) + "\"";
    const std::string modified = HttpDate(file->info.st_mtim.tv_sec);
    const auto ifNoneMatch = request->Header("If-None-Match");
    const auto ifModifiedSince = request->Header("If-Modified-Since");
    const bool unchanged = ifNoneMatch ? *ifNoneMatch == tag : (ifModifiedSince && *ifModifiedSince == modified);
    std::string response = unchanged ? "HTTP/1.1 304 Not Modified\r\n" : "HTTP/1.1 200 OK\r\n";
    response += "Content-Type: " + std::string(ContentType(*path)) + "\r\n";
    if (!unchanged) response += "Content-Length: " + std::to_string(file->bytes.size()) + "\r\n";
    response += "ETag: " + tag + "\r\nLast-Modified: " + modified + "\r\nCache-Control: no-cache\r\n";
    response += keepAlive ? "" : "Connection: close\r\n";
    response += "\r\n";
    if (!unchanged && !head_only) response += file->bytes;
    sink.Emit(response);
    if (!keepAlive) {
        closed_ = true;
        sink.Close();
    }
}

void WebWire::Fail(Sink& sink, CloseCode code) {
    if (!goodbye_) sink.Emit(CloseFrame(code));
    goodbye_ = true;
    closed_ = true;
    sink.Close();
}

void WebWire::TakeFrames(Sink& sink) {
    std::size_t at = 0;
    while (!closed_ && buffer_.size() - at >= 2) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(buffer_.data() + at);
        const std::size_t available = buffer_.size() - at;
        const bool fin = (bytes[0] & 0x80) != 0;
        const std::uint8_t opcode = bytes[0] & 0x0F;
        const bool control = (opcode & 0x8) != 0;
        std::uint64_t length = bytes[1] & 0x7F;
        std::size_t header = 2;
        if ((bytes[0] & 0x70) != 0 || (bytes[1] & 0x80) == 0) return Fail(sink, CloseCode::kProtocolError);
        if (control ? (opcode > 0xA || !fin || length > 125) : opcode > 0x2) {
            return Fail(sink, CloseCode::kProtocolError);
        }
        if (!control) {
            if (opcode == 0x1) return Fail(sink, CloseCode::kUnsupportedData);
            if ((opcode == 0x0) != inMessage_) return Fail(sink, CloseCode::kProtocolError);
        }
        if (length == 126) {
            if (available < 4) break;
            length = (std::uint64_t{bytes[2]} << 8) | bytes[3];
            header = 4;
        } else if (length == 127) {
            if (available < 10) break;
            length = 0;
            for (int i = 0; i < 8; ++i) length = (length << 8) | bytes[2 + i];
            header = 10;
        }
        if (!control && length > kMaxMessage - message_.size()) return Fail(sink, CloseCode::kTooBig);
        if (available < header + 4 + length) break;
        const std::uint8_t* mask = bytes + header;
        std::string payload(reinterpret_cast<const char*>(mask + 4), static_cast<std::size_t>(length));
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(payload[i] ^ mask[i % 4]);
        at += header + 4 + static_cast<std::size_t>(length);
        switch (opcode) {
            case 0x8:  // close: answered with the peer's code, then the end
                if (!goodbye_) sink.Emit(WebFrame(0x8, std::string_view(payload).substr(0, payload.size() >= 2 ? 2 : 0)));
                goodbye_ = true;
                closed_ = true;
                sink.Close();
                break;
            case 0x9:
                sink.Emit(WebFrame(0xA, payload));
                break;
            case 0xA:
                break;
            default:
                message_ += payload;
                inMessage_ = !fin;
                if (fin) {
                    sink.Message(message_);
                    std::string().swap(message_);
                }
        }
    }
    buffer_.erase(0, at);
}

std::string WebWire::Goodbye() {
    if (!upgraded_ || goodbye_) return {};
    goodbye_ = true;
    closed_ = true;
    return CloseFrame(CloseCode::kNormal);
}

WebWire::Idle WebWire::CheckIdle(Clock::time_point now) {
    if (closed_ || now - lastHeard_ < kPingAfter) return Idle::kNothing;
    if (!upgraded_ || pingSent_) return now - lastHeard_ >= 2 * kPingAfter || !upgraded_ ? Idle::kClose : Idle::kNothing;
    pingSent_ = true;
    return Idle::kPing;
}

}  // namespace nelv::net
