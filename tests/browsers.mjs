// The page's three engines, each driven the way its own tools allow, behind
// one small interface: open(url) gives a tab with run(body, arg), which
// runs the async function body(arg) in the page and returns its result;
// choose(path), which chooses a file in the page's file control; and
// close().  Chromium through Playwright, Firefox through Puppeteer over
// WebDriver BiDi, WebKitGTK through WebKitWebDriver; Debian's browsers, no
// download.
import {spawn} from 'node:child_process';
import {mkdtempSync, rmSync} from 'node:fs';
import {createRequire} from 'node:module';
import {createServer} from 'node:net';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const expression = (body, arg) => `(${body})(${JSON.stringify(arg)})`;

// A tab of Playwright's or Puppeteer's, which evaluate alike.
function tab(page, choose) {
	return {
		page,
		run: (body, arg) => page.evaluate(expression(body, arg)),
		choose,
		close: () => page.close(),
	};
}

async function chromium(modules) {
	const {chromium: engine} =
		createRequire(import.meta.url)(join(modules, 'playwright-core'));
	const browser = await engine.launch({executablePath: '/usr/bin/chromium',
		args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
			'--disable-component-update', '--disable-sync', '--no-first-run']});
	return {
		async open(url) {
			const page = await browser.newPage();
			await page.goto(url);
			return tab(page, (path) => page.setInputFiles('#file', path));
		},
		close: () => browser.close(),
	};
}

async function firefox(modules) {
	const puppeteer =
		createRequire(import.meta.url)(join(modules, 'puppeteer-core'));
	const browser = await puppeteer.launch({browser: 'firefox',
		executablePath: '/usr/bin/firefox-esr', headless: true,
		extraPrefsFirefox: {'network.proxy.type': 0}});
	return {
		async open(url) {
			const page = await browser.newPage();
			await page.goto(url);
			return tab(page, async (path) =>
				(await page.$('#file')).uploadFile(path));
		},
		close: () => browser.close(),
	};
}

function freePort() {
	return new Promise((resolve) => {
		const server = createServer().listen(0, '127.0.0.1', () => {
			const {port} = server.address();
			server.close(() => resolve(port));
		});
	});
}

// WebKitWebDriver speaks classic WebDriver, over plain HTTP.
async function webkit() {
	const port = await freePort();
	const driver = spawn('WebKitWebDriver', [`--port=${port}`],
		{stdio: 'ignore'});
	const call = async (method, path, body) => {
		const response = await fetch(`http://127.0.0.1:${port}${path}`, {method,
			headers: {'content-type': 'application/json'},
			body: body && JSON.stringify(body)});
		const {value} = await response.json();
		if (value?.error)
			throw new Error(`WebDriver ${path}: ${value.error}: ${value.message}`);
		return value;
	};
	for (let i = 0; ; i++) {
		try {
			await call('GET', '/status');
			break;
		} catch (e) {
			if (i === 50)
				throw e;
			await new Promise((resolve) => setTimeout(resolve, 100));
		}
	}
	// One window for every tab, in turn: a new one costs a second.
	const {sessionId} = await call('POST', '/session', {capabilities: {
		alwaysMatch: {'webkitgtk:browserOptions': {
			binary: '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser',
			args: ['--automation']}}}});
	const at = `/session/${sessionId}`;
	return {
		async open(url) {
			await call('POST', `${at}/url`, {url: 'about:blank'});
			await call('POST', `${at}/url`, {url});
			return {
				run: async (body, arg) => {
					const r = await call('POST', `${at}/execute/async`, {args: [],
						script: `const done = arguments[0]; ${expression(body, arg)
						}.then((value) => done({value}), (e) => done({error: ` +
							'String(e)}));'});
					if (r.error)
						throw new Error(r.error);
					return r.value;
				},
				async choose(path) {
					const input = await call('POST', `${at}/element`,
						{using: 'css selector', value: '#file'});
					await call('POST', `${at}/element/${Object.values(input)[0]
					}/value`, {text: path});
				},
				close: async () => {},
			};
		},
		async close() {
			await call('DELETE', at).catch(() => {});
			driver.kill();
		},
	};
}

export async function launch(engine, modules) {
	const home = mkdtempSync(join(tmpdir(), `page-${engine}-`));
	process.env.HOME = home;
	const browser = await {chromium, firefox, webkit}[engine](modules);
	return {...browser, async close() {
		await browser.close();
		rmSync(home, {recursive: true, force: true});
	}};
}
