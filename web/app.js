// The chat page: one WebSocket to the server, the state it tells us about, and
// the controls that turn into requests. The server's replies are the only
// source of truth; a control only changes the page ahead of the reply where no
// reply will come (away, leaving a room).
//
// When the connection drops, the page keeps its panes and tries again after
// 1, 2, 4 ... 30 seconds; once back it signs in under the same nickname and
// password and joins the rooms whose panes are still open. It stays away after
// the user signs out and after a closing notice that a new connection would
// only meet again (thrown off, address refused or banned, idle).

import * as P from './protocol.js';

const C = P.C;
const $ = (selector) => document.querySelector(selector);
const key = (name) => name.toLowerCase();  // names compare without letter case
const typed = (text) => text.replace(/[\x00-\x1F]+/g, ' ').trim();

const S = {
    ws: null, greeted: false, pendingLogin: null, closeReason: '', closeStatus: 0,
    final: false,          // the connection ends for good: no reconnecting
    everGreeted: false,
    account: null,         // {nick, password} signed in with, to sign in again after a drop
    resume: null,          // away, invisible and colour before the drop, to restore
    retry: { delay: 0, at: 0, timer: 0, tick: 0 },
    wanted: [],            // {nick, password} asked for with 26, oldest first
    nick: '', loggedIn: false, colour: '000000', away: false, invisible: false, privileged: false,
    rooms: new Map(),      // the room list: key -> room information
    users: new Map(),      // visible users: key -> {nick, colour, standing}
    panes: new Map(),      // 'server', 'r:'+room key, 'p:'+nick key -> pane
    active: 'server',
    newRoomColour: new Map(),  // room key -> colour to give a room we open
    settingsFor: '',       // room key whose information the settings dialog waits for
    registration: null,    // what the register dialog asked for, for the follow-up
    person: null,          // {nick, pane} of the person dialog
    banners: [], bannerTimer: 0, noticeTimer: 0, linkTimer: 0,
};

// Closing notices after which a new connection would only be turned away again.
const FINAL_CLOSE = new Set([7, 9, 10, 11]);

// ---- Elements ---------------------------------------------------------------

function h(tag, props = {}, ...children) {
    const el = document.createElement(tag);
    for (const [name, value] of Object.entries(props)) {
        if (value === undefined || value === null || value === false) continue;
        if (name === 'class') el.className = value;
        else if (name.startsWith('on')) el.addEventListener(name.slice(2), value);
        else el.setAttribute(name, value === true ? '' : value);
    }
    el.append(...children.flat().filter((c) => c !== null && c !== undefined && c !== false));
    return el;
}

/** A nickname in its colour; very light colours get a dark chip to stay readable. */
function nickEl(nick, colour) {
    const el = h('span', { class: 'nick' }, nick);
    paint(el, colour);
    return el;
}

function paint(el, colour) {
    if (!P.isColour(colour ?? '')) return;
    el.style.color = '#' + colour;
    const n = parseInt(colour, 16);
    const light = 0.299 * (n >> 16) + 0.587 * ((n >> 8) & 255) + 0.114 * (n & 255);
    el.classList.toggle('light', light > 200);
}

const swatch = (colour) => {
    const el = h('span', { class: 'swatch' });
    if (P.isColour(colour)) el.style.background = '#' + colour;
    return el;
};

function hhmm() {
    const d = new Date();
    return String(d.getHours()).padStart(2, '0') + ':' + String(d.getMinutes()).padStart(2, '0');
}

// ---- Panes and the log ------------------------------------------------------

function makePane(id, kind, name, colour) {
    const log = h('div', {
        class: 'log', 'data-testid': 'message-log', role: 'log', tabindex: 0,
        'aria-label': kind === 'server' ? 'Chat log' : `Log of ${kind === 'private' ? 'the chat with ' : ''}${name}`,
    });
    const head = h('header', { class: 'pane-head' });
    const attrs = { class: `pane ${kind}`, hidden: true };
    if (kind === 'room') Object.assign(attrs, { 'data-testid': 'room-pane', 'data-room': name });
    if (kind === 'private') Object.assign(attrs, { 'data-testid': 'private-pane', 'data-nick': name });
    if (kind === 'server') attrs['data-testid'] = 'server-pane';
    const el = h('section', attrs, head, log);
    const label = h('span', { class: 'label' }, kind === 'server' ? 'Chat' : name);
    const unread = h('span', { class: 'unread' });
    const tabButton = h('button', { type: 'button', role: 'tab', 'data-pane': id, onclick: () => activate(pane.id) },
        kind === 'private' ? '✉ ' : '', label, unread);
    const tab = h('span', { class: `tab ${kind}` }, tabButton);
    const close = kind === 'server' ? null : h('button', {
        type: 'button', class: 'close', 'data-testid': 'tab-close', onclick: () => closeByUser(pane.id),
    }, '×');
    if (close) tab.append(close);
    const pane = {
        id, kind, name, colour, el, log, head, tab, tabButton, close, label, unread, count: 0, members: new Map(), info: null,
        stale: false,  // a room pane kept over a drop, to be joined again
    };
    nameClose(pane);
    $('#panes').append(el);
    $('#tabs').append(tab);
    S.panes.set(id, pane);
    renderHead(pane);
    return pane;
}

/** The close button says what it does, for the pane's current name. */
function nameClose(pane) {
    if (!pane.close) return;
    const what = pane.kind === 'room' ? `Leave ${pane.name}` : `Close the chat with ${pane.name}`;
    pane.close.title = what;
    pane.close.setAttribute('aria-label', what);
}

const serverPane = () => S.panes.get('server');
const roomPane = (name) => S.panes.get('r:' + key(name));
const activePane = () => S.panes.get(S.active) ?? serverPane();

function privatePane(nick) {
    return S.panes.get('p:' + key(nick)) ?? makePane('p:' + key(nick), 'private', nick);
}

function activate(id) {
    const pane = S.panes.get(id);
    if (!pane) return;
    S.active = id;
    for (const p of S.panes.values()) {
        p.el.hidden = p !== pane;
        p.tab.classList.toggle('active', p === pane);
        p.tabButton.setAttribute('aria-selected', String(p === pane));
        p.tabButton.tabIndex = p === pane ? 0 : -1;  // the arrow keys move between tabs
    }
    showPanel(null);
    pane.count = 0;
    pane.unread.textContent = '';
    pane.log.scrollTop = pane.log.scrollHeight;
    renderRoomBox();
    $('#show-right').hidden = pane.kind !== 'room';
    $('#message-input').placeholder = pane.kind === 'room' ? `Say something in ${pane.name}`
        : pane.kind === 'private' ? `Write to ${pane.name}` : 'Open a room or a private chat to write';
}

function closePane(pane) {
    pane.el.remove();
    pane.tab.remove();
    S.panes.delete(pane.id);
    if (S.active === pane.id) activate('server');
    if (pane.kind === 'room') renderRooms();
}

function closeByUser(id) {
    const pane = S.panes.get(id);
    if (!pane) return;
    // The server does not answer a leave; the pane goes at once.
    if (pane.kind === 'room') send(C.LEAVE, 0, pane.name);
    closePane(pane);
}

/** Appends one line: [time] nick: text, or a notice in italics when nick is absent. */
function addLine(pane, { nick, colour, text, kind = 'msg', extra } = {}) {
    const log = pane.log;
    const atEnd = log.scrollHeight - log.scrollTop - log.clientHeight < 40;
    const line = h('div', { class: `line ${kind}` }, h('time', {}, hhmm()));
    if (nick !== undefined) line.append(nickEl(nick, colour), h('span', { class: 'sep' }, ': '));
    line.append(h('span', { class: 'text' }, text));
    if (extra) line.append(' ', extra);
    log.append(line);
    while (log.childElementCount > 2000) log.firstElementChild.remove();
    if (atEnd) log.scrollTop = log.scrollHeight;
    if (pane.id !== S.active && kind !== 'sys') {
        pane.count++;
        pane.unread.textContent = String(pane.count);
    }
}

const sys = (pane, text) => addLine(pane, { text, kind: 'sys' });

function notify(text, isError = true, log = true) {
    const el = $('#notice');
    el.textContent = text;
    el.className = isError ? 'error' : '';
    el.hidden = false;
    clearTimeout(S.noticeTimer);
    S.noticeTimer = setTimeout(() => { el.hidden = true; }, 8000);
    if (log) addLine(activePane(), { text, kind: isError ? 'error' : 'sys' });
}

// ---- Rendering of lists -----------------------------------------------------

function renderHead(pane) {
    const head = pane.head;
    head.replaceChildren();
    if (pane.kind === 'room') {
        const info = S.rooms.get(key(pane.name)) ?? pane.info;
        head.append(swatch(info?.colour ?? pane.colour), h('b', {}, pane.name), ' ',
            h('span', { class: 'topic' }, info?.topic ?? ''));
    } else if (pane.kind === 'private') {
        const user = S.users.get(key(pane.name));
        head.append('Private chat with ', nickEl(pane.name, user?.colour), user ? '' : ' (not in the list of people online)');
    } else {
        head.append(h('b', {}, S.chatName || 'Chat'));
    }
}

function renderRooms() {
    const list = $('#room-list');
    list.replaceChildren(...[...S.rooms.values()].map((room) => {
        const joined = roomPane(room.name);
        const count = room.limit ? `${room.members}/${room.limit}` : String(room.members);
        return h('li', { 'data-room': room.name, class: joined ? 'joined' : '' },
            h('div', { class: 'room-line' },
                swatch(room.colour),
                h('span', { class: 'name', title: 'Put into the room field', onclick: () => { $('#room-name').value = room.name; } }, room.name),
                h('span', { class: 'count', title: 'Members' }, count),
                room.closed ? h('span', { class: 'badge' }, 'closed') : null,
                h('button', {
                    type: 'button', class: 'small', 'data-testid': 'room-join',
                    onclick: () => (joined ? activate(joined.id) : join(room.name)),
                }, joined ? 'Open' : 'Join')),
            room.topic ? h('div', { class: 'topic' }, room.topic) : null);
    }));
    for (const pane of S.panes.values()) if (pane.kind === 'room') renderHead(pane);
    renderRoomBox();
}

function standingBadges({ rank, away, muted }) {
    const out = [];
    if (rank === '2') out.push(h('span', { class: 'badge owner', title: 'Owner of the room' }, 'owner'));
    if (rank === '1') out.push(h('span', { class: 'badge op', title: 'Operator of the room' }, 'op'));
    if (rank === '3') out.push(h('span', { class: 'badge priv', title: 'Privileged user' }, 'priv'));
    if (away) out.push(h('span', { class: 'badge away', title: 'Away' }, 'away'));
    if (muted) out.push(h('span', { class: 'badge muted', title: 'Muted in this room' }, 'muted'));
    return out;
}

function renderUsers() {
    $('#user-list').replaceChildren(...[...S.users.values()].map((u) =>
        h('li', { 'data-nick': u.nick },
            h('button', { type: 'button', class: 'person', onclick: () => openPerson(u.nick, null) },
                nickEl(u.nick, u.colour),
                standingBadges({ rank: u.standing === '3' ? '3' : '0', away: u.standing === '4' })))));
    for (const pane of S.panes.values()) if (pane.kind === 'private') renderHead(pane);
}

const RANK_ORDER = { 2: 0, 3: 1, 1: 2, 0: 3 };

function renderRoomBox() {
    const pane = activePane();
    const box = $('#room-box');
    box.hidden = pane.kind !== 'room';
    if (box.hidden) return;
    const info = S.rooms.get(key(pane.name)) ?? pane.info;
    $('#room-title').replaceChildren(swatch(info?.colour ?? pane.colour), pane.name);
    $('#room-topic').textContent = info?.topic ?? '';
    const members = [...pane.members.values()].sort((a, b) =>
        (RANK_ORDER[a.rank] ?? 3) - (RANK_ORDER[b.rank] ?? 3) || key(a.nick).localeCompare(key(b.nick)));
    $('#member-list').replaceChildren(...members.map((m) =>
        h('li', { 'data-nick': m.nick, class: m.away ? 'away' : '', title: m.away && m.awayText ? `Away: ${m.awayText}` : null },
            h('button', { type: 'button', class: 'person', onclick: () => openPerson(m.nick, pane) },
                nickEl(m.nick, m.colour), standingBadges(m)))));
}

function renderMe() {
    $('#me-nick').replaceChildren(nickEl(S.nick, S.colour), S.privileged ? h('span', { class: 'badge priv' }, 'priv') : '');
    $('#own-colour').value = '#' + (P.isColour(S.colour) ? S.colour.toLowerCase() : '000000');
    $('#away').textContent = S.away ? 'Back' : 'Away';
    $('#away').classList.toggle('on', S.away);
    $('#invisible').checked = S.invisible;
}

function startBanners(interval, texts) {
    clearInterval(S.bannerTimer);
    S.banners = texts;
    const el = $('#banner');
    let at = 0;
    const show = () => { el.textContent = S.banners.length ? S.banners[at++ % S.banners.length] : ''; };
    show();
    if (texts.length > 1) S.bannerTimer = setInterval(show, Math.max(1, interval) * 1000);
}

// ---- Connection -------------------------------------------------------------

function connect() {
    if (S.ws) return;
    stopRetry();
    const ws = new WebSocket((location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/chat');
    ws.binaryType = 'arraybuffer';
    S.ws = ws;
    S.greeted = false;
    S.final = false;
    S.closeReason = '';
    S.closeStatus = 0;
    $('#connection').textContent = 'Connecting…';
    if (S.retry.delay) showLink('Reconnecting…');
    ws.onmessage = (ev) => {
        if (typeof ev.data !== 'string' && ev.data.byteLength >= 3) handle(P.parse(new Uint8Array(ev.data)));
    };
    ws.onclose = (ev) => { if (S.ws === ws) disconnected(ev); };
}

function send(command, sub, ...fields) {
    if (!S.ws || S.ws.readyState !== WebSocket.OPEN) {
        notify('Not connected to the chat.');
        return false;
    }
    S.ws.send(P.request(command, sub, ...fields));
    return true;
}

function disconnected(ev) {
    S.ws = null;
    const reason = S.closeReason || (!S.greeted ? 'The chat server cannot be reached.'
        : ev.code === 1000 ? 'The chat closed the connection.' : 'The connection to the chat was lost.');
    if (S.loggedIn) {
        S.resume = { away: S.away, awayText: typed($('#away-text').value), invisible: S.invisible, colour: S.colour };
    }
    S.rooms.clear();
    S.users.clear();
    S.wanted = [];
    if (S.greeted) S.pendingLogin = null;  // sent already; one that never got out waits for the next connection
    S.loggedIn = false;
    S.away = S.invisible = S.privileged = false;
    startBanners(0, []);
    $('#connection').textContent = 'Not connected';
    if (S.final) return endSession(reason);
    for (const pane of S.panes.values()) {
        if (pane.kind !== 'room') continue;
        pane.members.clear();
        pane.stale = true;
        if (S.greeted) sys(pane, 'Disconnected.');
    }
    renderRooms();
    renderUsers();
    if (S.greeted || !S.retry.delay) sys(serverPane(), reason);
    retryLater();
}

/** Back to the sign-in screen with nothing kept: signed out, thrown off, refused. */
function endSession(reason) {
    stopRetry();
    hideLink();
    for (const pane of [...S.panes.values()]) if (pane.kind !== 'server') closePane(pane);
    S.account = S.resume = S.pendingLogin = null;
    renderRooms();
    renderUsers();
    setSignedIn(false);
    $('#signin-error').textContent = reason + ' Sign in to connect again.';
    sys(serverPane(), reason);
}

function retryLater() {
    const r = S.retry;
    r.delay = r.delay ? Math.min(2 * r.delay, 30) : 1;
    r.at = Date.now() + r.delay * 1000;
    r.timer = setTimeout(connect, r.delay * 1000);
    const tell = () => {
        const left = Math.max(1, Math.ceil((r.at - Date.now()) / 1000));
        showLink(S.closeStatus === 3 ? `The chat is full; trying again in ${left} s…`
            : S.everGreeted ? `Connection lost; reconnecting in ${left} s…`
                : `The chat server cannot be reached; trying again in ${left} s…`, true);
    };
    tell();
    r.tick = setInterval(tell, 1000);
}

function stopRetry() {
    clearTimeout(S.retry.timer);
    clearInterval(S.retry.tick);
    S.retry.timer = S.retry.tick = 0;
}

/** The connection line at the top; `waiting` offers to try at once. */
function showLink(text, waiting = false, ok = false) {
    clearTimeout(S.linkTimer);
    $('#link-text').textContent = text;
    $('#link-now').hidden = !waiting;
    $('#link').classList.toggle('ok', ok);
    $('#link').hidden = false;
    if (ok) S.linkTimer = setTimeout(hideLink, 5000);
}

function hideLink() {
    const now = $('#link-now');
    if (now.contains(document.activeElement)) $('#message-input').focus();
    $('#link').hidden = true;
}

/** The chat or the sign-in screen; what is behind the sign-in screen is out of reach. */
function setSignedIn(on) {
    document.body.classList.toggle('signed-in', on);
    for (const el of [$('#top'), $('#layout')]) el.inert = !on;
    if (!on) $('#nickname').focus();
}

function login() {
    const { nick, password } = S.pendingLogin;
    S.pendingLogin = null;
    S.wanted.push({ nick, password });
    send(C.LOGIN, 0, nick, password);
}

/** After signing in again: back into the rooms still open, and as away or invisible as before. */
function resume() {
    const before = S.resume ?? {};
    S.resume = null;
    if (before.invisible) send(C.INVISIBLE, P.SWITCH_ON);
    if (before.colour && !P.isColour(S.accountColour) && before.colour !== S.colour) {
        S.colour = before.colour;  // an unregistered nickname starts with the default colour again
        send(C.COLOUR, 0, S.colour);
    }
    if (before.away) {
        send(C.AWAY, 0, before.awayText ?? '');
        S.away = true;
    }
    for (const pane of S.panes.values()) {
        if (pane.kind !== 'room' || !pane.stale) continue;
        if (P.isColour(pane.colour ?? '')) S.newRoomColour.set(key(pane.name), pane.colour.toUpperCase());
        send(C.JOIN, 0, pane.name);
    }
    renderMe();
}

// ---- What the server says ---------------------------------------------------

function handle(m) {
    if (m.command === C.CLOSE) {
        S.closeReason = m.status === 10 ? `You were thrown off the chat by ${m.text}.`
            : `Disconnected: ${P.statusWords(m.status, C.CLOSE)}.`;
        S.closeStatus = m.status;
        S.final = FINAL_CLOSE.has(m.status);
        notify(S.closeReason, true, false);  // the server pane says it once the socket is closed
        return;
    }
    // The target of a private message, an invitation or a text is away.
    if (m.sub === 6 && m.status === 0 && [C.INVITE, C.TEXT_WITH_ADDRESS, C.PRIVATE].includes(m.command)) {
        const [nick, text, room] = P.fields(m.text, 3);
        const pane = m.command === C.INVITE ? roomPane(room) ?? activePane() : privatePane(nick);
        sys(pane, `${nick} is away${text ? ': ' + text : ''}`);
        return;
    }
    if (m.status !== 0) return refused(m);
    ON[m.command]?.(m);
}

function refused(m) {
    const words = P.refusalWords(m);
    if (m.command === C.LOGIN) {
        const asked = S.wanted.shift();
        if (!S.loggedIn) {
            if (S.account) {  // signing in again after a drop: the user decides what now
                S.account = null;
                $('#nickname').value = asked?.nick ?? '';
                setSignedIn(false);
            }
            $('#signin-error').textContent = words;
            return;
        }
    }
    if (m.command === C.ACCOUNT && m.sub === 15) {
        const asked = S.registration?.chatPassword;
        S.registration = null;
        if (m.status === 4) {
            return notify(asked ? 'Registration refused: the registration password is wrong.'
                : 'Registration refused: this chat asks for its registration password.');
        }
    }
    if (m.command === C.JOIN) {
        const name = P.fields(m.text, 1)[0];
        S.newRoomColour.delete(key(name));
        const pane = roomPane(name);
        if (pane?.stale) closePane(pane);  // the room would not take us back
    }
    notify(words);
}

const ON = {
    [C.SERVER_INFO](m) {  // the greeting
        S.greeted = S.everGreeted = true;
        $('#connection').textContent = 'Connected';
        $('#connection').title = `Protocol ${m.text}`;
        if (S.retry.delay) {
            S.retry.delay = 0;
            showLink('Reconnected', false, true);
            sys(serverPane(), 'Reconnected.');
        }
        send(C.SERVER_INFO, 0);
        if (!S.pendingLogin && S.account) S.pendingLogin = S.account;
        if (S.pendingLogin) login();
    },

    [C.SERVER_DATA](m) {
        if (m.sub === 1) {
            const [name, welcome] = P.fields(m.text, 2);
            S.chatName = name;
            document.title = name;
            $('#chat-name').textContent = name;
            $('#signin-chat-name').textContent = name;
            $('#welcome').replaceChildren(...P.lines(welcome).map((line) => h('p', {}, line)));
            renderHead(serverPane());
            if (!serverPane().welcomed) {
                serverPane().welcomed = true;
                for (const line of P.lines(welcome)) sys(serverPane(), line);
            }
        } else if (m.sub === 3) {
            const colon = m.text.indexOf(':');
            const interval = parseInt(m.text.slice(0, colon), 10) || 0;
            // Banner lines are name=value; the value is what people read.
            const texts = P.lines(m.text.slice(colon + 1)).map((line) => line.slice(line.indexOf('=') + 1)).filter(Boolean);
            startBanners(interval, texts);
        } else if (m.sub === 4) {
            S.rooms = new Map(P.entries(m.text).map(P.roomInfo).map((r) => [key(r.name), r]));
            renderRooms();
        } else if (m.sub === 5) {
            S.users = new Map(P.entries(m.text).map((e) => {
                const [nick, colour, standing] = P.fields(e, 3);
                return [key(nick), { nick, colour, standing }];
            }));
            renderUsers();
        }
    },

    [C.USER](m) {
        const [nick, colour, standing] = P.fields(m.text, 3);
        if (m.sub === 19) {
            S.users.set(key(nick), { nick, colour, standing });
            if (isMe(nick)) {
                S.colour = colour;
                S.away = standing === '4';
                if (standing !== '4') S.privileged = standing === '3';
                renderMe();
            }
        } else if (m.sub === 20) {
            S.users.delete(key(nick));
        }
        renderUsers();
    },

    [C.ROOM](m) {
        if (m.sub === 19) {
            const info = P.roomInfo(m.text);
            S.rooms.set(key(info.name), info);
        } else if (m.sub === 20) {
            S.rooms.delete(key(m.text));
        }
        renderRooms();
    },

    [C.LOGIN](m) {
        const renamed = S.loggedIn;
        const asked = S.wanted.shift();
        S.nick = asked?.nick ?? S.nick;
        if (asked) S.account = asked;
        S.accountColour = m.text;
        S.loggedIn = true;
        const user = S.users.get(key(S.nick));
        S.colour = P.isColour(m.text) ? m.text : user?.colour ?? S.colour;
        if (!renamed) {
            S.privileged = user?.standing === '3';
            S.invisible = !user;  // a visible user sees its own announcement first
        }
        const again = [...S.panes.values()].some((p) => p.stale) || S.resume;
        setSignedIn(true);
        $('#signin-error').textContent = '';
        renderMe();
        sys(serverPane(), renamed ? `You are now known as ${S.nick}.` : `Signed in as ${S.nick}.`);
        if (renamed) return;
        if (again) resume();
        else ($('#room-name').offsetParent ? $('#room-name') : $('#show-left')).focus();
    },

    [C.JOIN](m) {
        const [name, colour] = P.fields(m.text, 2);
        const pane = roomPane(name) ?? makePane('r:' + key(name), 'room', name, colour);
        const back = pane.stale;
        pane.stale = false;
        pane.colour = colour;
        renderHead(pane);
        renderRooms();
        if (back) return sys(pane, 'You are back in the room.');  // the tab the user looks at stays
        activate(pane.id);
        $('#message-input').focus();
    },

    [C.ROOM_EVENT]: roomEvent,

    [C.DELIVERY](m) {
        const [nick, colour, content] = P.fields(m.text.slice(1), 3);  // after the leading 0x00
        if (m.sub === 0) {
            addLine(privatePane(nick), { nick, colour, text: content });
        } else if (m.sub === 1) {
            invitation(nick, colour, content);
        } else if (m.sub === 2) {
            const pane = roomPane(content);
            if (pane) closePane(pane);
            notify(`${nick} kicked you out of ${content}.`);
        } else if (m.sub === 3) {
            const [address, text] = P.fields(content, 2);
            addLine(privatePane(nick), { nick, colour, text, extra: h('small', {}, `(from ${address})`) });
        }
    },

    [C.PRIVATE](m) {  // our own private message, as delivered
        const [to, colour, text] = P.fields(m.text, 3);
        addLine(privatePane(to), { nick: S.nick, colour, text, kind: 'msg own' });
    },

    [C.INVITE](m) {
        const [room, nick] = P.fields(m.text, 2);
        sys(roomPane(room) ?? activePane(), `You invited ${nick} to ${room}.`);
    },

    [C.INVISIBLE](m) {
        S.invisible = m.sub === 0x31;
        renderMe();
        sys(serverPane(), S.invisible ? 'You are invisible now.' : 'You are visible now.');
    },

    [C.ROOM_INFO](m) {
        const info = P.roomInfo(m.text);
        if (S.settingsFor === key(info.name)) {
            S.settingsFor = '';
            openSettings(info, m.sub === 0x31);
        }
    },

    [C.ACCOUNT](m) {
        if (m.sub === 15) {
            const r = S.registration;
            sys(serverPane(), `Your nickname ${S.nick} is registered.`);
            // Registered under the chat's registration password: now the own one.
            if (r && r.chatPassword && r.chatPassword !== r.password) {
                send(C.ACCOUNT, 17, r.chatPassword, r.password, ...r.profile, r.invisible);
            } else {
                S.registration = null;
            }
        } else if (m.sub === 17) {
            S.registration = null;
            sys(serverPane(), 'Your password and profile are saved.');
        }
    },

    [C.SERVER_KICK](m) {  // the rooms we share with the target say it too
        sys(serverPane(), `${m.text} was removed from the chat.`);
    },

    [C.LOOKUP](m) {
        showLookup(P.fields(m.text, 10));
    },
};

function isMe(nick) {
    return S.loggedIn && key(nick) === key(S.nick);
}

/** A member's standing character: '4' says away and hides the rank. */
function applyStanding(member, standing, rankIfAway) {
    if (standing === '4') {
        member.away = true;
        if (rankIfAway !== undefined) member.rank = rankIfAway;
    } else {
        member.away = false;
        member.rank = standing || '0';
    }
    if (isMe(member.nick) && member.rank === '3') S.privileged = true;
}

// What a change of standing (14/11) leaves someone with, when away hides it.
const RANK_AFTER = { 7: '1', 8: '0', 9: '2', 10: '1', 12: '0' };

function roomEvent(m) {
    const value = m.value;
    const [room, actor, actorColour, data] = P.fields(m.text.slice(1), 4);
    const pane = roomPane(room);
    if (!pane) return;
    const [d0, d1] = P.fields(data, 2);
    const member = (nick) => pane.members.get(key(nick));
    const said = (text) => sys(pane, text);
    switch (m.sub) {
        case 0:   // present when we joined
        case 2: { // joined
            const mem = { nick: actor, colour: actorColour, rank: '0', away: false, awayText: '', muted: false };
            applyStanding(mem, d0);
            pane.members.set(key(actor), mem);
            if (m.sub === 2) {
                if (isMe(actor)) ownJoin(pane);
                else said(`${actor} joined.`);
            }
            break;
        }
        case 1: {
            const mem = member(actor);
            addLine(pane, { nick: actor, colour: actorColour || mem?.colour, text: data,
                kind: value === 13 ? 'msg announce' : isMe(actor) ? 'msg own' : 'msg' });
            break;
        }
        case 3:
            pane.members.delete(key(actor));
            said(`${actor} left.`);
            break;
        case 4: {
            const mem = member(actor);
            if (mem) {
                mem.awayText = value === 0x31 ? d0 : '';
                applyStanding(mem, d1);
                mem.away = value === 0x31;
            }
            if (isMe(actor)) { S.away = value === 0x31; renderMe(); }
            said(value === 0x31 ? `${actor} is away${d0 ? ': ' + d0 : ''}.` : `${actor} is back.`);
            break;
        }
        case 5:
            said(value === 0x31 ? `${actor} banned the address of ${data} from the room.`
                : `${actor} lifted the ban on the address of ${data}.`);
            break;
        case 6:
            said(`${data} was removed from the chat by ${actor}.`);
            break;
        case 7: {
            const mem = member(actor);
            if (mem) mem.colour = actorColour;
            break;
        }
        case 8: {
            const mem = member(data);
            if (mem) mem.muted = value === 0x31;
            said(value === 0x31 ? `${actor} muted ${data}.` : `${actor} lifted the mute on ${data}.`);
            break;
        }
        case 9:
            if (isMe(data)) {  // the delivery that follows says who and where
                closePane(pane);
                return;
            }
            said(`${actor} kicked ${data} out of the room.`);
            break;
        case 10: {  // a member took another nickname
            const mem = member(d0) ?? { rank: '0', muted: false, away: false };
            pane.members.delete(key(d0));
            Object.assign(mem, { nick: actor, colour: actorColour });
            applyStanding(mem, d1);
            pane.members.set(key(actor), mem);
            const chat = S.panes.get('p:' + key(d0));
            if (chat && !S.panes.has('p:' + key(actor))) {
                S.panes.delete(chat.id);
                chat.id = 'p:' + key(actor);
                chat.name = actor;
                chat.label.textContent = actor;
                chat.el.dataset.nick = actor;
                chat.tabButton.dataset.pane = chat.id;
                nameClose(chat);
                S.panes.set(chat.id, chat);
                if (S.active === 'p:' + key(d0)) S.active = chat.id;
                renderHead(chat);
            }
            said(`${d0} is now known as ${actor}.`);
            break;
        }
        case 11: {
            const mem = member(d0);
            if (mem) applyStanding(mem, d1, RANK_AFTER[value]);
            if (value === 12 && isMe(d0)) { S.privileged = false; renderMe(); }
            const words = {
                7: 'is now an operator', 8: 'is no longer an operator', 9: 'is now the owner of the room',
                10: 'is no longer the owner of the room', 12: 'is no longer a privileged user',
            }[value] ?? `is ${P.RANK_WORDS[d1] ?? 'changed'}`;
            said(`${d0} ${words}${actor ? ` (by ${actor})` : ''}.`);
            break;
        }
        case 12: {
            const info = P.roomInfo(data);
            pane.info = info;
            pane.colour = info.colour;
            renderHead(pane);
            said(`${actor} changed the room: topic "${info.topic}", colour ${info.colour}, ` +
                `${info.limit ? `at most ${info.limit} members` : 'no member limit'}` +
                `${info.closed ? ', closed' : ''}${info.hidden ? ', hidden' : ''}.`);
            break;
        }
        case 13:
            said(`${data} could not join.`);
            break;
        default:
            break;
    }
    if (isMe(actor) || isMe(d0)) renderMe();
    if (pane.id === S.active) renderRoomBox();
}

/** Our own arrival in a room: a room we have just opened gets the colour asked for. */
function ownJoin(pane) {
    const colour = S.newRoomColour.get(key(pane.name));
    S.newRoomColour.delete(key(pane.name));
    const known = S.rooms.get(key(pane.name));
    if (colour && pane.members.size === 1 && !known?.permanent && colour !== 'FFFFFF') {
        send(C.SETTINGS, 0x10, pane.name, '', colour, '', '', '');
    }
}

function invitation(nick, colour, room) {
    const item = h('li', { 'data-room': room, 'data-testid': 'invitation' },
        nickEl(nick, colour), ` invites you to ${room} `,
        h('button', { type: 'button', 'data-testid': 'accept-invite', onclick: () => { item.remove(); join(room, true); } }, 'Join'),
        h('button', { type: 'button', class: 'small', title: 'Dismiss', 'aria-label': `Dismiss the invitation to ${room}`,
            onclick: () => item.remove() }, '×'));
    for (const old of $('#invitations').querySelectorAll('li')) old.remove();  // only the last one counts
    $('#invitations').append(item);
    addLine(serverPane(), { text: `${nick} invites you to ${room}.`, kind: 'sys' });
}

// ---- Controls ---------------------------------------------------------------

function join(name, invited = false) {
    const room = invited ? name : typed(name);  // an invitation's name goes back byte for byte
    if (!room) return;
    const open = roomPane(room);
    if (open) return activate(open.id);
    if (!invited) S.newRoomColour.set(key(room), $('#room-colour').value.slice(1).toUpperCase());
    send(C.JOIN, 0, room);
}

function openPerson(nick, pane) {
    S.person = { nick, pane };
    const mem = pane?.members.get(key(nick));
    const me = pane?.members.get(key(S.nick));
    $('#person-nick').replaceChildren(nickEl(nick, mem?.colour ?? S.users.get(key(nick))?.colour));
    $('#person-state').replaceChildren(...(mem ? [P.RANK_WORDS[mem.rank] ?? 'member', ...standingBadges({ ...mem, rank: '' })] : []),
        mem?.away && mem.awayText ? ` — away: ${mem.awayText}` : '');
    const here = activePane();
    $('#person-invite').hidden = here.kind !== 'room' || here.members.has(key(nick));
    $('#person-mod').hidden = !mem || !me || me.rank === '0' || isMe(nick) && me.rank !== '2';
    $('#person-room').textContent = pane?.name ?? '';
    $('#person-mute').textContent = mem?.muted ? 'Lift mute' : 'Mute';
    $('#person-mute').value = mem?.muted ? 'unmute' : 'mute';
    $('#person-remove').hidden = !S.privileged || isMe(nick);
    $('#kill-minutes').value = '';
    $('#person-dialog').returnValue = '';
    $('#person-dialog').showModal();
}

function personAction(action) {
    const { nick, pane } = S.person ?? {};
    if (!nick) return;
    const room = pane?.name;
    switch (action) {
        case 'message': activate(privatePane(nick).id); $('#message-input').focus(); break;
        case 'lookup': send(C.LOOKUP, 0, nick); break;
        case 'invite': send(C.INVITE, 0, activePane().name, nick); break;
        case 'op': send(C.STANDING, 0x31, room, nick); break;
        case 'deop': send(C.STANDING, 0x30, room, nick); break;
        case 'owner': if (confirm(`Hand ${room} over to ${nick}?`)) send(C.STANDING, 0x32, room, nick); break;
        case 'kick': send(C.KICK, 0, room, nick); break;
        case 'mute': send(C.MUTE, P.SWITCH_ON, room, nick); break;
        case 'unmute': send(C.MUTE, P.SWITCH_OFF, room, nick); break;
        case 'ban': send(C.BAN, P.SWITCH_ON, room, nick); break;
        case 'unban': send(C.BAN, P.SWITCH_OFF, room, nick); break;
        case 'kill': {
            const minutes = $('#kill-minutes').value.trim();
            if (confirm(`Remove ${nick} from the chat${minutes && minutes !== '0' ? ` and ban the address for ${minutes} minutes` : ''}?`)) {
                if (minutes) send(C.SERVER_KICK, 0, nick, minutes);
                else send(C.SERVER_KICK, 0, nick);
            }
            break;
        }
        default: break;
    }
}

function showLookup(f) {
    const [nick, colour, away, awayText, idle, address, p1, p2, p3, privileged] = f;
    const online = idle !== '';
    const rows = [
        ['Status', online ? `online, last active ${idle} s ago` : 'registered, not online'],
        ['Away', away === '1' ? awayText || 'yes' : ''],
        ['Address', address],
        ['Name', p1], ['Contact', p2], ['About', p3],
        ['Privileged', privileged === '1' ? 'yes' : ''],
    ].filter(([, v]) => v);
    $('#lookup-nick').replaceChildren(nickEl(nick, colour));
    $('#lookup-body').replaceChildren(...rows.flatMap(([k, v]) => [h('dt', {}, k), h('dd', {}, v)]));
    $('#lookup-message').hidden = !online;
    $('#lookup-kill').hidden = !online || !S.privileged || isMe(nick);
    S.person = { nick, pane: null };
    $('#lookup-dialog').returnValue = '';
    $('#lookup-dialog').showModal();
}

function openSettings(info, mayChange) {
    const form = $('#settings-form');
    form.info = info;
    $('#settings-room').textContent = info.name;
    $('#set-topic').value = info.topic;
    $('#set-colour').value = '#' + (P.isColour(info.colour) ? info.colour.toLowerCase() : 'ffffff');
    $('#set-limit').value = String(info.limit);
    $('#set-closed').checked = info.closed;
    $('#set-hidden').checked = info.hidden;
    for (const el of form.querySelectorAll('input')) el.disabled = !mayChange;
    $('#settings-save').hidden = !mayChange;
    $('#settings-note').textContent = mayChange ? ''
        : info.permanent ? 'This is one of the chat\'s own rooms; its settings are fixed.' : 'Only operators may change these settings.';
    $('#settings-dialog').returnValue = '';
    $('#settings-dialog').showModal();
}

function saveSettings() {
    const info = $('#settings-form').info;
    const f = [info.name, '', '', '', '', ''];
    let mask = 0;
    const topic = typed($('#set-topic').value);
    const colour = $('#set-colour').value.slice(1).toUpperCase();
    const limit = Math.max(0, Math.min(65535, parseInt($('#set-limit').value, 10) || 0));
    const closed = $('#set-closed').checked;
    const hidden = $('#set-hidden').checked;
    if (topic !== info.topic) { mask |= 0x08; f[1] = topic; }
    if (colour !== info.colour.toUpperCase()) { mask |= 0x10; f[2] = colour; }
    if (limit !== info.limit) { mask |= 0x20; f[3] = String(limit); }
    if (closed !== info.closed) { mask |= 0x80; f[4] = closed ? '1' : '0'; }
    if (hidden !== info.hidden) { mask |= 0x40; f[5] = hidden ? '1' : '0'; }
    if (mask) send(C.SETTINGS, mask, ...f);
}

/** Opens one side panel ('left', 'right') on a narrow screen, or none. */
function showPanel(which) {
    for (const side of ['left', 'right']) {
        document.body.classList.toggle('show-' + side, side === which);
        $('#show-' + side).setAttribute('aria-expanded', String(side === which));
    }
}

function wire() {
    $('#signin-form').addEventListener('submit', (ev) => {
        ev.preventDefault();
        const nick = $('#nickname').value.trim();
        const password = $('#password').value.trim();
        const problem = P.nicknameProblem(nick) || (password && !P.isPassword(password) ? 'The password is a whole number.' : '');
        $('#signin-error').textContent = problem;
        if (problem) return;
        S.pendingLogin = { nick, password };
        if (!S.ws) connect();
        else if (S.greeted) login();
    });

    $('#join-form').addEventListener('submit', (ev) => {
        ev.preventDefault();
        join($('#room-name').value);
        $('#room-name').value = '';
    });

    $('#say-form').addEventListener('submit', (ev) => {
        ev.preventDefault();
        const input = $('#message-input');
        const text = typed(input.value);
        const pane = activePane();
        if (!text) return;
        if (pane.kind === 'room') send(C.SAY, 0, pane.name, text);
        else if (pane.kind === 'private') send(C.PRIVATE, 0, pane.name, text);
        else return notify('Open a room or a private chat first.', false);
        input.value = '';
    });

    const personField = () => {
        const nick = $('#user-name').value.trim();
        if (!nick) notify('Type a nickname first.', false);
        return nick;
    };
    $('#person-form').addEventListener('submit', (ev) => {
        ev.preventDefault();
        const nick = personField();
        if (nick) { activate(privatePane(nick).id); $('#message-input').focus(); }
    });
    $('#lookup').addEventListener('click', () => { const nick = personField(); if (nick) send(C.LOOKUP, 0, nick); });
    $('#invite').addEventListener('click', () => {
        const nick = personField();
        const pane = activePane();
        if (!nick) return;
        if (pane.kind !== 'room') return notify('Open the room to invite into first.', false);
        send(C.INVITE, 0, pane.name, nick);
    });

    $('#person-dialog').addEventListener('close', () => personAction($('#person-dialog').returnValue));
    $('#lookup-dialog').addEventListener('close', () => {
        const v = $('#lookup-dialog').returnValue;
        if (v === 'message') personAction('message');
        if (v === 'kill') openPerson(S.person.nick, null);
    });

    $('#room-settings').addEventListener('click', () => {
        S.settingsFor = key(activePane().name);
        send(C.ROOM_INFO, 0, activePane().name);
    });
    $('#settings-dialog').addEventListener('close', () => {
        if ($('#settings-dialog').returnValue === 'save') saveSettings();
    });
    $('#leave').addEventListener('click', () => closeByUser(S.active));

    $('#own-colour').addEventListener('change', () => {
        S.colour = $('#own-colour').value.slice(1).toUpperCase();
        send(C.COLOUR, 0, S.colour);
        renderMe();
    });
    $('#away').addEventListener('click', () => {
        // Nothing answers an invisible user who is in no room: the page keeps its own note.
        if (S.away) send(C.AWAY, P.SWITCH_OFF);
        else send(C.AWAY, 0, typed($('#away-text').value));
        S.away = !S.away;
        renderMe();
    });
    $('#invisible').addEventListener('change', () => {
        send(C.INVISIBLE, $('#invisible').checked ? P.SWITCH_ON : P.SWITCH_OFF);
    });

    $('#signout').addEventListener('click', () => {
        S.closeReason = 'You signed out.';
        S.final = true;
        if (S.ws) S.ws.close(1000);
        else endSession(S.closeReason);  // between two attempts to reconnect
    });
    $('#link-now').addEventListener('click', connect);
    window.addEventListener('online', () => { if (S.retry.timer) connect(); });

    // Phones: the side panels open over the conversation, one at a time.
    $('#show-left').addEventListener('click', () => showPanel(document.body.classList.contains('show-left') ? null : 'left'));
    $('#show-right').addEventListener('click', () => showPanel(document.body.classList.contains('show-right') ? null : 'right'));
    document.addEventListener('keydown', (ev) => {
        if (ev.key !== 'Escape' || !/show-(left|right)/.test(document.body.className) || document.querySelector('dialog[open]')) return;
        const toggle = document.body.classList.contains('show-left') ? $('#show-left') : $('#show-right');
        showPanel(null);
        if (toggle.offsetParent) toggle.focus();
    });
    // Left and right move between the tabs, as in any tab list.
    $('#tabs').addEventListener('keydown', (ev) => {
        if (ev.key !== 'ArrowLeft' && ev.key !== 'ArrowRight') return;
        const tabs = [...$('#tabs').querySelectorAll('[role=tab]')];
        const at = tabs.indexOf(document.activeElement);
        if (at < 0) return;
        const next = tabs[(at + (ev.key === 'ArrowRight' ? 1 : tabs.length - 1)) % tabs.length];
        next.click();
        next.focus();
        ev.preventDefault();
    });
    $('#register-open').addEventListener('click', () => {
        const dialog = $('#register-dialog');
        dialog.replaceChildren($('#register-template').content.cloneNode(true));
        $('#register-nick').textContent = S.nick;
        dialog.returnValue = '';
        dialog.showModal();
    });
    $('#register-dialog').addEventListener('close', () => $('#register-dialog').replaceChildren());
    $('#register-dialog').addEventListener('submit', (ev) => {
        if (ev.submitter?.value !== 'register') return;
        const password = $('#reg-password').value.trim();
        const chatPassword = $('#reg-chat-password').value.trim();
        const problem = !P.isPassword(password) ? 'The password is a whole number, such as 4711.'
            : chatPassword && !P.isPassword(chatPassword) ? 'The registration password is a whole number.' : '';
        $('#register-error').textContent = problem;
        if (problem) return ev.preventDefault();
        const profile = ['#reg-p1', '#reg-p2', '#reg-p3'].map((id) => typed($(id).value));
        const invisible = $('#reg-invisible').checked ? '1' : '0';
        S.registration = { password, chatPassword, profile, invisible };
        send(C.ACCOUNT, 15, S.nick, chatPassword || password, ...profile, invisible);
    });
}

makePane('server', 'server', 'Chat');
activate('server');
wire();
setSignedIn(false);
connect();
