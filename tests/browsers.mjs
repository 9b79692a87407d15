// The page's three engines, each driven the way its own tools allow, behind
// one small interface: open(url) gives a tab with run(body, arg), which
// runs the async function body(arg) in the page and returns its result;
// choose(path), which chooses a file in the page's file control; save(),
// which clicks the page's first save control and gives the bytes that the
// browser saved (where its driver lets a download happen: not WebKitGTK's);
// and close().  Each engine opens every page in one tab, in turn: a
// navigation gives a fresh document, where a new tab costs a renderer's
// start (a second and more).  launch(engine, modules, language) starts a
// browser that asks pages for language first.  Chromium through
// Playwright, Firefox through Puppeteer over WebDriver BiDi, WebKitGTK
// through WebKitWebDriver; Debian's browsers, no download.
import {execFileSync, spawn} from 'node:child_process';
import {existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync}
	from 'node:fs';
import {createRequire} from 'node:module';
import {createServer} from 'node:net';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const expression = (body, arg) => `(${body})(${JSON.stringify(arg)})`;

// A tab of Playwright's or Puppeteer's, which evaluate alike; the next
// open() takes it over.
function tab(page, choose, save) {
	return {
		page,
		run: (body, arg) => page.evaluate(expression(body, arg)),
		choose,
		save,
		close: async () => {},
	};
}

// The page at url in the one tab, a fresh document however it was left.
async function navigate(page, url) {
	await page.goto('about:blank');
	await page.goto(url);
	return page;
}

const saveControl = 'a[download]';

// The bytes of the first file that appears, whole, in dir.
async function saved(dir) {
	for (let i = 0; i < 100; i++) {
		// Firefox makes the file, empty, beside the .part it writes first.
		const names = existsSync(dir) ? readdirSync(dir) : [];
		const done = names.filter((f) => !/\.part$|^\./.test(f));
		const bytes = done.length && !names.some((f) => /\.part$/.test(f)) &&
			readFileSync(join(dir, done[0]));
		if (bytes?.length)
			return bytes;
		await new Promise((resolve) => setTimeout(resolve, 100));
	}
	throw new Error(`nothing saved in ${dir}`);
}

async function chromium(modules, language) {
	const {chromium: engine} =
		createRequire(import.meta.url)(join(modules, 'playwright-core'));
	const browser = await engine.launch({executablePath: '/usr/bin/chromium',
		args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking',
			'--disable-component-update', '--disable-sync', '--no-first-run']});
	const one = browser.newPage(language ? {locale: language} : {});
	return {
		async open(url) {
			const page = await navigate(await one, url);
			return tab(page, (path) => page.setInputFiles('#file', path),
				async () => {
					const [download] = await Promise.all([
						page.waitForEvent('download'), page.click(saveControl)]);
					return readFileSync(await download.path());
				});
		},
		close: () => browser.close(),
	};
}

async function firefox(modules, language) {
	const puppeteer =
		createRequire(import.meta.url)(join(modules, 'puppeteer-core'));
	const downloads = join(process.env.HOME, 'saved');
	const browser = await puppeteer.launch({browser: 'firefox',
		executablePath: '/usr/bin/firefox-esr', headless: true,
		extraPrefsFirefox: {'network.proxy.type': 0,
			'browser.download.dir': downloads, 'browser.download.folderList': 2,
			'browser.download.useDownloadDir': true,
			'browser.download.always_ask_before_handling_new_types': false,
			...(language ? {'intl.accept_languages': language} : {})}});
	const one = browser.newPage();
	return {
		async open(url) {
			const page = await navigate(await one, url);
			return tab(page, async (path) =>
				(await page.$('#file')).uploadFile(path), async () => {
				rmSync(downloads, {recursive: true, force: true});
				await page.click(saveControl);
				return saved(downloads);
			});
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
// WebKitGTK takes its languages from the locale, which must exist.
async function webkit(modules, language) {
	const port = await freePort();
	const env = {...process.env};
	if (language) {
		const locale = `${language.replace('-', '_')}.UTF-8`;
		const dir = join(process.env.HOME, 'locale');
		mkdirSync(dir);
		execFileSync('localedef', ['-i', locale.split('.')[0], '-f', 'UTF-8',
			join(dir, locale)]);
		Object.assign(env, {LOCPATH: dir, LC_ALL: locale});
	}
	const driver = spawn('WebKitWebDriver', [`--port=${port}`],
		{stdio: 'ignore', env});
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
	// Its one window.
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

// The processes that run an engine's pages and their workers, by a word
// of their command lines.
const content = {chromium: '--type=renderer', firefox: '-contentproc',
	webkit: 'WebKitWebProcess'};

// The largest resident memory (field VmRSS, or VmHWM for its peak) of
// engine's page processes, in MiB.
export function memory(engine, field = 'VmRSS') {
	let most = 0;
	for (const pid of readdirSync('/proc').filter((p) => /^\d+$/.test(p))) {
		try {
			if (!readFileSync(`/proc/${pid}/cmdline`, 'utf8')
				.includes(content[engine]))
				continue;
			const status = readFileSync(`/proc/${pid}/status`, 'utf8');
			most = Math.max(most, new RegExp(`^${field}:\\s+(\\d+)`, 'm')
				.exec(status)[1] / 1024);
		} catch {
			// The process ended while we looked.
		}
	}
	return Math.round(most);
}

export async function launch(engine, modules, language) {
	const home = mkdtempSync(join(tmpdir(), `page-${engine}-`));
	process.env.HOME = home;
	const browser = await {chromium, firefox, webkit}[engine](modules,
		language);
	return {...browser, async close() {
		await browser.close();
		rmSync(home, {recursive: true, force: true});
	}};
}
