// The web client end to end in Chromium: two people sign in, meet in a room,
// talk with characters beyond ASCII and then privately.
//   NELV_WEB_URL=http://127.0.0.1:PORT/ node tests/web/chat.browser.mjs
// Without NELV_WEB_URL it exits with 77 (skipped).
import { chromium } from 'playwright-core';

const url = process.env.NELV_WEB_URL;
if (!url) {
    console.log('chat.browser: NELV_WEB_URL is not set; skipped');
    process.exit(77);
}
setTimeout(() => { console.error('chat.browser: no end after 60 s'); process.exit(1); }, 60_000).unref();

const tag = String(process.pid % 100000);
const [ann, bob, room] = [`Ann${tag}`, `Bob${tag}`, `Test${tag}`];
const said = 'Grüße € „ok“';
const whispered = 'Privat: Ærø ½';
const problems = [];

const browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
        '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    timeout: 15_000,
});

async function signIn(nick) {
    const page = await (await browser.newContext()).newPage();
    page.setDefaultTimeout(5000);
    page.on('pageerror', (e) => problems.push(`${nick}: ${e.message}`));
    page.on('console', (m) => { if (m.type() === 'error') problems.push(`${nick}: ${m.text()}`); });
    await page.goto(url);
    await page.getByTestId('nickname').fill(nick);
    await page.getByTestId('signin').click();
    await page.getByTestId('me-nick').filter({ hasText: nick }).waitFor();
    return page;
}

async function joinRoom(page) {
    await page.getByTestId('room-name').fill(room);
    await page.getByTestId('join').click();
    await page.locator(`[data-testid=room-pane][data-room="${room}"]`).waitFor();
}

const check = (ok, what) => { if (!ok) throw new Error(what); };

try {
    const a = await signIn(ann);
    const b = await signIn(bob);

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
    await a.getByTestId('member-list').locator(`li[data-nick="${bob}"]`).waitFor();
    await b.getByTestId('room-list').locator(`li[data-room="${room}"] .count`).filter({ hasText: /^2$/ }).waitFor();

    await a.getByTestId('message-input').fill(said);
    await a.getByTestId('send').click();
    const roomLog = (page) => page.locator(`[data-testid=room-pane][data-room="${room}"] [data-testid=message-log]`);
    await roomLog(b).getByText(said, { exact: true }).waitFor();
    await roomLog(a).getByText(said, { exact: true }).waitFor();

    await a.getByTestId('user-name').fill(bob);
    await a.getByTestId('pm-open').click();
    await a.getByTestId('message-input').fill(whispered);
    await a.getByTestId('send').click();
    const chat = (page, nick) => page.locator(`[data-testid=private-pane][data-nick="${nick}"] [data-testid=message-log]`);
    await chat(a, bob).getByText(whispered, { exact: true }).waitFor();
    await b.getByRole('tab', { name: new RegExp(ann) }).click();
    await chat(b, ann).getByText(whispered, { exact: true }).waitFor();
    check(await roomLog(b).getByText(whispered).count() === 0, 'the private message showed in the room');
    check(problems.length === 0, `errors on the pages:\n${problems.join('\n')}`);
    console.log('chat.browser: 1 passed, 0 failed');
} catch (e) {
    console.error(e.message);
    console.log('chat.browser: 0 passed, 1 failed');
    process.exitCode = 1;
} finally {
    await browser.close();
}
