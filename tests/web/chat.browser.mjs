// The web client end to end in Chromium, with the terminal client beside it:
// two pages (one desktop-sized, one phone-sized) and nelv3chat sign in, meet in
// a room, talk there and privately in every direction; the phone page loses
// its connection and finds its way back into the room by itself. Screenshots
// of both pages go to NELV_SCREENSHOTS (default build/screenshots/).
//   NELV_WEB_URL=http://127.0.0.1:WEBPORT/ NELV_CHAT_PORT=PORT node tests/web/chat.browser.mjs
// Without either variable it exits with 77 (skipped). Text to and from
// nelv3chat stays ASCII; between the pages it need not.
import { spawn } from 'node:child_process';
import { EventEmitter } from 'node:events';
import { mkdirSync } from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const url = process.env.NELV_WEB_URL;
const chatPort = process.env.NELV_CHAT_PORT;
if (!url || !chatPort) {
    console.log('chat.browser: NELV_WEB_URL or NELV_CHAT_PORT is not set; skipped');
    process.exit(77);
}
setTimeout(() => { console.error('chat.browser: no end after 90 s'); process.exit(1); }, 90_000).unref();

const repo = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../..');
const shots = path.resolve(process.env.NELV_SCREENSHOTS ?? path.join(repo, 'build/screenshots'));
const tag = String(process.pid % 100000);
const [ann, bob, carl, room] = [`Ann${tag}`, `Bob${tag}`, `Carl${tag}`, `Test${tag}`];
const problems = [];
const check = (ok, what) => { if (!ok) throw new Error(what); };

/** nelv3chat reading commands from a pipe; saw() waits for one whole output line. */
function terminal(nick) {
    const proc = spawn(path.join(repo, 'build/nelv3chat'), ['--port', chatPort, '--nick', nick],
        { stdio: ['pipe', 'pipe', 'inherit'] });
    const lines = [];
    const news = new EventEmitter();
    let rest = '';
    proc.stdout.setEncoding('latin1');
    proc.stdout.on('data', (chunk) => {
        const parts = (rest + chunk).split('\n');
        rest = parts.pop();
        lines.push(...parts);
        news.emit('line');
    });
    const ended = new Promise((done) => proc.on('close', (code) => done(code)));
    return {
        type: (line) => proc.stdin.write(line + '\n'),
        saw: (line, ms = 5000) => new Promise((done, fail) => {
            const look = () => { if (lines.includes(line)) { stop(); done(); } };
            const timer = setTimeout(() => {
                stop();
                fail(new Error(`nelv3chat did not show "${line}"; it showed:\n  ${lines.join('\n  ')}`));
            }, ms);
            const stop = () => { clearTimeout(timer); news.off('line', look); };
            news.on('line', look);
            look();
        }),
        quit: async () => {
            proc.stdin.end();
            const code = await Promise.race([ended, new Promise((done) => setTimeout(done, 10_000, 'no end').unref())]);
            if (code !== 0) proc.kill();
            return code;
        },
    };
}

const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    timeout: 15_000,
});

async function signIn(nick, viewport, route) {
    const page = await (await browser.newContext({ viewport })).newPage();
    page.setDefaultTimeout(5000);
    page.on('pageerror', (e) => problems.push(`${nick}: ${e.message}`));
    page.on('console', (m) => { if (m.type() === 'error') problems.push(`${nick}: ${m.text()}`); });
    if (route) await page.routeWebSocket(/\/chat$/, route);
    await page.goto(url);
    await page.getByLabel('Nickname', { exact: true }).fill(nick);
    await page.getByLabel('Password', { exact: true }).press('Enter');
    await page.getByTestId('me-nick').filter({ hasText: nick }).waitFor();
    return page;
}

// On a phone the rooms are behind a button; joining shows the room again.
async function joinRoom(page) {
    const panel = page.getByRole('button', { name: 'Rooms and people' });
    if (await panel.isVisible()) await panel.click();
    await page.getByLabel('Room name').fill(room);
    await page.getByLabel('Room name').press('Enter');
    await page.locator(`[data-testid=room-pane][data-room="${room}"]`).waitFor();
    await page.getByLabel('Message', { exact: true }).waitFor();
}

async function say(page, text, byKey) {
    await page.getByLabel('Message', { exact: true }).fill(text);
    if (byKey) await page.getByLabel('Message', { exact: true }).press('Enter');
    else await page.getByRole('button', { name: 'Send', exact: true }).click();
}

const roomLog = (page) => page.locator(`[data-testid=room-pane][data-room="${room}"] [data-testid=message-log]`);
const chat = (page, nick) => page.locator(`[data-testid=private-pane][data-nick="${nick}"] [data-testid=message-log]`);
const shows = (log, text) => log.getByText(text, { exact: true }).waitFor();

// Visible controls that nothing visible names: no label, no text.
const unlabelled = (page) => page.evaluate(() => [...document.querySelectorAll('input, button, textarea, select')]
    .filter((el) => el.checkVisibility() && !(el.labels?.length && [...el.labels].some((l) => l.checkVisibility()))
        && !(el.tagName === 'BUTTON' && el.textContent.trim()))
    .map((el) => el.id || el.outerHTML.slice(0, 60)));

const c = terminal(carl);
try {
    await c.saw(`* you are ${carl} now`);
    const links = [];  // the phone's connections, as the test sees them
    const a = await signIn(ann, { width: 1280, height: 800 });
    const b = await signIn(bob, { width: 390, height: 844 }, (ws) => { links.push(ws.connectToServer()); });

    // The page's own code page table against the browser's.
    const differ = await a.evaluate(async () => {
        const { decode } = await import(new URL('cp1252.js', location.href));
        const bytes = Uint8Array.from({ length: 256 }, (_, i) => i);
        const ours = decode(bytes);
        const theirs = new TextDecoder('windows-1252').decode(bytes);
        return [...bytes].filter((i) => ours[i] !== theirs[i]);
    });
    check(differ.length === 0, `decoder differs from the browser's at bytes ${differ}`);

    await joinRoom(a);
    await joinRoom(b);
    c.type(`/join ${room}`);
    await c.saw(`* you are in ${room} now`);
    for (const nick of [bob, carl]) await a.getByTestId('member-list').locator(`li[data-nick="${nick}"]`).waitFor();

    // In the room: each one says something, the other two read it.
    await say(a, 'Hello from Ann');
    await shows(roomLog(b), 'Hello from Ann');
    await c.saw(`[${room}] <${ann}> Hello from Ann`);
    await say(b, 'Hi from Bob', true);
    await shows(roomLog(a), 'Hi from Bob');
    await c.saw(`[${room}] <${bob}> Hi from Bob`);
    c.type('Hi from Carl');
    await shows(roomLog(a), 'Hi from Carl');
    await shows(roomLog(b), 'Hi from Carl');

    // The phone's connection drops: it says so, comes back, signs in and is in the room again.
    links.at(-1).close();
    await b.getByTestId('link-status').filter({ hasText: /Connection lost; reconnecting in \d+ s…/ }).waitFor();
    await b.getByTestId('link-status').filter({ hasText: /Reconnected/ }).waitFor({ timeout: 10_000 });
    await c.saw(`* ${bob} left ${room}`);
    await c.saw(`* ${bob} joined ${room}`);
    c.type('Welcome back');
    await shows(roomLog(b), 'Welcome back');
    check(links.length === 2, `the phone connected ${links.length} times`);
    check(await b.locator('[data-testid=room-pane]').count() === 1, 'the room has a second pane after reconnecting');

    // Privately: page to page beyond ASCII, terminal to page and back.
    const whispered = 'Privat: Ærø ½ € „ok“';
    await a.getByLabel('Person').fill(bob);
    await a.getByRole('button', { name: 'Private chat' }).click();
    await say(a, whispered);
    await shows(chat(a, bob), whispered);
    await b.getByRole('tab', { name: new RegExp(ann) }).click();
    await shows(chat(b, ann), whispered);
    check(await roomLog(b).getByText(whispered).count() === 0, 'the private message showed in the room');
    c.type(`/msg ${bob} psst from Carl`);
    await b.getByRole('tab', { name: new RegExp(carl) }).click();
    await shows(chat(b, carl), 'psst from Carl');
    await say(b, 'psst back', true);
    await c.saw(`*${bob}* psst back`);

    check(await b.evaluate(() => document.documentElement.scrollWidth) <= 390, 'the phone page is wider than the phone');
    for (const [nick, page] of [[ann, a], [bob, b]]) {
        const bare = await unlabelled(page);
        check(bare.length === 0, `${nick}'s page has controls without a label: ${bare}`);
    }
    mkdirSync(shots, { recursive: true });
    for (const [name, page] of [['desktop', a], ['phone', b]]) {
        const file = path.join(shots, `chat-${name}.png`);
        await page.screenshot({ path: file });
        console.log(`chat.browser: screenshot ${file}`);
    }
    const code = await c.quit();
    check(code === 0, `nelv3chat ended with ${code}`);
    check(problems.length === 0, `errors on the pages:\n${problems.join('\n')}`);
    console.log('chat.browser: 1 passed, 0 failed');
} catch (e) {
    console.error(e.message);
    console.log('chat.browser: 0 passed, 1 failed');
    process.exitCode = 1;
    await c.quit();
} finally {
    await browser.close();
}
