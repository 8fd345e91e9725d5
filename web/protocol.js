// The chat protocol as the page speaks it: building requests, taking replies
// apart, and the words for status codes. One WebSocket message carries one
// chat message without its 0x1F terminator.

import { decode, encode } from './cp1252.js';

export const C = {
    JOIN: 0, INVITE: 1, TEXT_WITH_ADDRESS: 2, SAY: 3, SETTINGS: 4, DELIVERY: 5, ROOM_INFO: 6,
    ACCOUNT: 7, SERVER_INFO: 8, INVISIBLE: 9, SERVER_DATA: 10, USER: 11, STANDING: 12, AWAY: 13,
    ROOM_EVENT: 14, CLOSE: 15, KICK: 16, LEAVE: 17, COLOUR: 18, ROOM: 19, MUTE: 20, BAN: 21,
    SERVER_KICK: 22, LOOKUP: 23, PRIVATE: 24, LOGIN: 26,
};
export const SWITCH_ON = 21;
export const SWITCH_OFF = 22;

const FIELD = '\x01';
const ENTRY = '\x02';

/** One request: command, sub-code, then the fields joined by 0x01. */
export function request(command, sub, ...fields) {
    // A 0x1F inside a field would end the message early on the server and
    // start another one with whatever follows: it never goes out.
    const payload = encode(fields.join(FIELD).replaceAll('\x1F', ' '));
    const out = new Uint8Array(2 + payload.length);
    out[0] = command;
    out[1] = sub;
    out.set(payload, 2);
    return out;
}

/** A reply: command, sub-code, status, the first payload byte, the payload as text. */
export function parse(bytes) {
    return {
        command: bytes[0], sub: bytes[1], status: bytes[2],
        value: bytes.length > 3 ? bytes[3] : -1,
        text: decode(bytes.subarray(3)),
    };
}

/** The first count-1 fields, then the rest as the last one; missing fields are empty. */
export function fields(text, count) {
    const out = [];
    let at = 0;
    while (out.length < count - 1) {
        const end = text.indexOf(FIELD, at);
        if (end < 0) break;
        out.push(text.slice(at, end));
        at = end + 1;
    }
    out.push(text.slice(at));
    while (out.length < count) out.push('');
    return out;
}

/** Entries of a list payload, each closed by 0x02. */
export function entries(text) {
    const out = text.split(ENTRY);
    out.pop();  // after the last separator, or the whole text when there is none
    return out;
}

/** Lines of a text whose every line ends with CR LF. */
export function lines(text) {
    const out = text.split('\r\n');
    if (out[out.length - 1] === '') out.pop();
    return out;
}

/** Name|Topic|Colour|Members|Limit|Permanent|Closed|Hidden */
export function roomInfo(text) {
    const f = fields(text, 8);
    return {
        name: f[0], topic: f[1], colour: f[2], members: Number(f[3]) || 0, limit: Number(f[4]) || 0,
        permanent: f[5] === '1', closed: f[6] === '1', hidden: f[7] === '1',
    };
}

export const isColour = (text) => /^[0-9a-fA-F]{6}$/.test(text);

/** Passwords are signed 32-bit numbers in their plain decimal form. */
export function isPassword(text) {
    if (!/^(0|-?[1-9][0-9]{0,9})$/.test(text)) return false;
    const n = Number(text);
    return n >= -2147483648 && n <= 2147483647;
}

/** Why a nickname would be refused, or '' when it is fine. */
export function nicknameProblem(nick) {
    const bytes = encode(nick);
    if (bytes.length === 0) return 'Choose a nickname.';
    if (bytes.length > 20) return 'A nickname has at most 20 characters.';
    if (bytes.some((b) => b <= 0x20 || b === 0xA0)) return 'A nickname cannot contain spaces.';
    if ([...nick].some((ch) => ch !== '?' && encode(ch)[0] === 0x3F)) return 'The nickname has characters this chat cannot carry.';
    return '';
}

/** The standing character, without away. */
export const RANK_WORDS = { 0: 'member', 1: 'operator', 2: 'owner', 3: 'privileged' };

export function statusWords(status, command) {
    switch (status) {
        case 1: return 'the nickname is not valid';
        case 2: return 'only registered nicknames may sign in';
        case 3: return command === C.JOIN ? 'the room is full' : 'the chat is full';
        case 4: return 'wrong password';
        case 5: return 'the nickname is in use';
        case 6: return 'the nickname is registered already';
        case 7: return command === C.JOIN ? 'your address is banned from the room' : 'your address is not admitted';
        case 8: return 'the room is closed';
        case 9: return 'your address is banned from the chat for a while';
        case 10: return 'you were thrown off the chat';
        case 11: return 'you were idle too long';
        case 13: return 'the chat server is shutting down';
        case 14: return 'you are not signed in';
        case 15: return 'no such user';
        case 17: return 'you are not permitted to';
        case 18: return 'you are muted in that room';
        case 19: return 'no more rooms may be opened';
        case 20: return 'the account is disabled';
        default: return `unknown reason (${status})`;
    }
}

const WHAT = {
    [C.JOIN]: 'Joining', [C.INVITE]: 'Invitation', [C.TEXT_WITH_ADDRESS]: 'Message', [C.SAY]: 'Message',
    [C.SETTINGS]: 'Room settings', [C.ROOM_INFO]: 'Room information', [C.ACCOUNT]: 'Registration',
    [C.INVISIBLE]: 'Invisibility', [C.STANDING]: 'Change of rights', [C.AWAY]: 'Away', [C.KICK]: 'Kick',
    [C.LEAVE]: 'Leaving', [C.COLOUR]: 'Colour', [C.MUTE]: 'Mute', [C.BAN]: 'Address ban',
    [C.SERVER_KICK]: 'Removal from the chat', [C.LOOKUP]: 'Look-up', [C.PRIVATE]: 'Private message',
    [C.LOGIN]: 'Sign-in',
};

/** A refusal in one sentence, with the room or nickname it names. */
export function refusalWords(reply) {
    const [first, second] = fields(reply.text, 2);
    let line = `${WHAT[reply.command] ?? 'Request'} refused: ${statusWords(reply.status, reply.command)}`;
    if (reply.status === 15) line += `: ${second || first}`;
    else if (first) line += ` (${first})`;
    return line + '.';
}
