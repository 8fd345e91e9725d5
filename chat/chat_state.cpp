#include "chat/chat_state.h"

namespace nelv::chat {

ChatState::ChatState(ServerConfig settings, Clock clock, EventSink events)
    : settings_(std::move(settings)), clock_(std::move(clock)), events_(std::move(events)) {}

}  // namespace nelv::chat
