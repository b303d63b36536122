#pragma once
// The Winsock-shaped socket API the connection layer is written against. The real one sits on POSIX
// non-blocking sockets (posix_socket_api.h); tests drive a scripted fake.
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace ov {

constexpr int kAfInet = 2;
constexpr int kSockStream = 1;
constexpr int kIpProtoTcp = 6;
constexpr int kSocketMessage = 1025;  // the private socket notification message
constexpr uint16_t kWinsockVersion = 0x0101;

constexpr uint16_t kFdRead = 1;
constexpr uint16_t kFdWrite = 2;
constexpr uint16_t kFdConnect = 16;
constexpr uint16_t kFdClose = 32;
constexpr long kEventMask = kFdRead | kFdWrite | kFdConnect | kFdClose;  // 51

constexpr uint32_t kInaddrNone = 0xFFFFFFFFu;
constexpr int kWsaeWouldBlock = 10035;
constexpr int kWsaeConnRefused = 10061;

// The event word of a socket notification: the event in the low 16 bits, the error in the high 16.
constexpr uint32_t MakeEventWord(uint16_t event, uint16_t error) { return uint32_t(error) << 16 | event; }

// An address a host name or an IPv6 literal was looked up to: IPv4 in the first 4 bytes, or IPv6.
struct SocketAddress {
  bool v6 = false;
  std::array<uint8_t, 16> bytes{};  // network byte order
  uint32_t scopeId = 0;             // an IPv6 link-local address's interface
  bool operator==(const SocketAddress&) const = default;
};

class SocketApi {
 public:
  // The addresses a lookup found, in the order to try them; none when the name does not resolve.
  using LookupDone = std::function<void(std::vector<SocketAddress> found)>;

  // Receives every notification: the message number (1025), the socket and the event word.
  using EventHandler = std::function<void(int message, int socket, uint32_t eventWord)>;

  virtual ~SocketApi() = default;
  virtual int Startup(uint16_t version) = 0;  // 0, or an error number
  virtual void Cleanup() = 0;
  virtual int Socket(int family, int type, int protocol) = 0;  // a handle never handed out before, or -1
  virtual int AsyncSelect(int socket, long events) = 0;        // 0, or -1; events go to the handler
  // address and port in network byte order. 0 when connected at once, else -1 (10035 while under way).
  virtual int Connect(int socket, uint32_t address, uint16_t port) = 0;
  virtual int Send(int socket, const char* data, int length) = 0;  // bytes taken, or -1
  virtual int Recv(int socket, char* buffer, int length) = 0;      // bytes read, or -1
  virtual int CloseSocket(int socket) = 0;
  virtual int LastError() const = 0;  // Winsock number of the last failing call
  virtual void SetEventHandler(EventHandler handler) = 0;

  // Looks a host name (or, numericOnly, an IPv6 literal) up away from the UI thread, as the socket
  // library's asynchronous host look-up does; done runs later from the event loop, unless the look-up
  // was cancelled first. Returns the look-up's id, or -1 when names cannot be looked up (then done never
  // runs).
  virtual int AsyncGetHostByName(const std::string& /*host*/, bool /*numericOnly*/, LookupDone /*done*/) {
    return -1;
  }
  virtual void CancelLookup(int /*id*/) {}
  // Datagrams, for the game servers' status query. A UDP socket of the family of the addresses it will
  // send to, bound to a free port; readable runs from the event loop when a datagram waits, once until
  // the next RecvFrom. A handle from the same space as Socket's, closed with CloseSocket; -1 on failure.
  using Readable = std::function<void()>;
  virtual int OpenDatagram(bool /*v6*/, Readable /*readable*/) { return -1; }
  // port in network byte order, as ConnectTo's. The bytes sent, or -1.
  virtual int SendTo(int /*socket*/, const char* /*data*/, int /*length*/, const SocketAddress& /*to*/,
                     uint16_t /*port*/) {
    return -1;
  }
  // One waiting datagram into buffer: its whole length (one longer than length is cut to it, so the
  // caller sees by the length that it was), or -1 (10035 when none waits).
  virtual int RecvFrom(int /*socket*/, char* /*buffer*/, int /*length*/, SocketAddress& /*from*/,
                       uint16_t& /*port*/) {
    return -1;
  }

  // connect to a looked-up address, over IPv6 when it is one; as Connect otherwise.
  virtual int ConnectTo(int socket, const SocketAddress& address, uint16_t port) {
    if (address.v6) return -1;
    uint32_t v4 = 0;
    std::memcpy(&v4, address.bytes.data(), sizeof v4);  // stays in network order
    return Connect(socket, v4, port);
  }
};

// How an address the user typed is reached: dotted IPv4 as inet_addr reads it (never looked up), an
// IPv6 literal (bare, or in brackets) or a host name, both looked up; anything else is refused.
enum class AddressForm { Dotted, Ipv6, Name, Refused };
struct AddressParts {
  AddressForm form = AddressForm::Refused;
  std::string lookup;  // what is looked up: the literal without its brackets, or the name
};
AddressParts ClassifyAddress(const std::string& text);

// inet_addr: dotted IPv4 text (with the classic shortened forms such as 127.1) to an address in network
// byte order, kInaddrNone when the text is not one.
uint32_t InetAddr(const std::string& text);
uint16_t Htons(uint16_t port);

}  // namespace ov
