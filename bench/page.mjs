// Measures the offline page: its size; in each engine, the time from
// opening it to its being ready, and from choosing
// examples/vendor/driver.zip to the result; in each engine, for
// a zip of 300 drivers of 16 MiB and the real one, and for a solid 7-Zip
// archive of 3 GB with the driver last; and in Chromium, for a 700 MB CD
// image and a 3 GB DVD image holding the driver and for a zip of 5 GiB of
// zeros named CnxEtU.sys: the time to the answer, the peak memory of the
// engine's page processes over the empty page's, and the longest time the
// page did not answer.
//
//   cmake --workflow --preset web && node bench/page.mjs [--quick] [ENGINE...]
//
// --quick stops after driver.zip.  PAGE names another build of the page
// to measure; BEFORE an earlier one, whose driver.zip runs take turns with
// PAGE's in the same browser, so that both are measured in one run.
// Needs bsdtar (it makes the images, about 13 GB of room in TMPDIR) and
// the web build in build/web; run it with no other browser open.
import {execFileSync} from 'node:child_process';
import {closeSync, copyFileSync, mkdirSync, mkdtempSync, openSync,
	readFileSync, rmSync, statSync, truncateSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join} from 'node:path';
import {fileURLToPath, pathToFileURL} from 'node:url';

import {launch, memory} from '../tests/browsers.mjs';
import {solid7z} from '../tests/solid7z.mjs';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const build = join(root, 'build', 'web');
const page = pathToFileURL(process.env.PAGE ||
	join(build, 'tovrin-fw.html')).href;
const pages = [...(process.env.BEFORE ? [['before',
	pathToFileURL(process.env.BEFORE).href]] : []), ['', page]];
const modules = join(build, 'web', 'npm', 'node_modules');
const quick = process.argv.includes('--quick');
const named = process.argv.slice(2).filter((a) => a !== '--quick');
const engines = named.length ? named : ['chromium', 'firefox', 'webkit'];

const MB = 1 << 20;
const median = (xs) => [...xs].sort((a, b) => a - b)[xs.length >> 1];

// Chooses file on a fresh page; the time to its being ready, the time to
// the answer, its first line, the renderer's peak memory before and after,
// and the longest gap between the page's timer ticks (10 ms apart).
async function run(browser, file, engine = 'chromium', url = page) {
	const opened = performance.now();
	const tab = await browser.open(url);
	while (await tab.run(async () => document.body.dataset.state) !== 'ready')
		;
	const ready = performance.now() - opened;
	const empty = memory(engine, 'VmHWM');
	await tab.run(async () => {
		let last = performance.now();
		window.gap = 0;
		setInterval(() => {
			const now = performance.now();
			window.gap = Math.max(window.gap, now - last);
			last = now;
		}, 10);
	});
	const start = performance.now();
	await tab.choose(file);
	while (await tab.run(async () => document.body.dataset.state) !== 'done')
		await new Promise((resolve) => setTimeout(resolve, 10));
	const ms = performance.now() - start;
	const {text, gap} = await tab.run(async () => ({gap: window.gap,
		text: document.getElementById('result').innerText}));
	const peak = memory(engine, 'VmHWM');
	await tab.close();
	return {ready, ms, gap, empty, peak, says: text.split('\n')[0]};
}

function sparse(path, size) {
	closeSync(openSync(path, 'w'));
	truncateSync(path, size);
}

// A CD or DVD image: the driver beside a file of size bytes.
function image(name, size) {
	const dir = join(work, name);
	mkdirSync(join(dir, 'DRIVER', 'WINXP'), {recursive: true});
	copyFileSync(join(root, 'examples', 'sample-driver.sys'),
		join(dir, 'DRIVER', 'WINXP', 'CNXETU.SYS'));
	sparse(join(dir, 'DATA.BIN'), size);
	execFileSync('bsdtar', ['--format', 'iso9660', '-cf', `${dir}.iso`, '-C',
		dir, '.']);
	rmSync(dir, {recursive: true});
	return `${dir}.iso`;
}

const work = mkdtempSync(join(tmpdir(), 'page-bench-'));
try {
	for (const [name, url] of pages)
		console.log(`${name || 'page'}: ${statSync(fileURLToPath(url)).size} bytes`);
	const zip = join(root, 'examples', 'vendor', 'driver.zip');
	for (const engine of engines) {
		const browser = await launch(engine, modules);
		try {
			const seen = pages.map(() => ({times: [], ready: [], gap: 0}));
			for (let i = 0; i < 11; i++) {
				for (const [k, [, url]] of pages.entries()) {
					const r = await run(browser, zip, engine, url);
					seen[k].times.push(r.ms);
					seen[k].ready.push(r.ready);
					seen[k].gap = Math.max(seen[k].gap, r.gap);
				}
			}
			for (const [k, {times, ready, gap}] of seen.entries()) {
				const name = pages[k][0] ? ` (${pages[k][0]})` : '';
				console.log(`${engine}${name}: opened to ready: median ${
					median(ready).toFixed(0)} ms over ${ready.length} runs`);
				console.log(`${engine}${name}: driver.zip to result: median ${
					median(times).toFixed(0)} ms over ${times.length} runs (${
					Math.min(...times).toFixed(0)} to ${
					Math.max(...times).toFixed(0)} ms); longest wait ${
					gap.toFixed(0)} ms`);
			}
		} finally {
			await browser.close();
		}
	}
	if (quick) {
		rmSync(work, {recursive: true});
		process.exit(0);
	}
	// 300 drivers of the bound beside the real one; the real one last in
	// one stored block of 3 GB.
	const many = join(work, 'many');
	for (let i = 0; i < 300; i++) {
		mkdirSync(join(many, `${i}`), {recursive: true});
		sparse(join(many, `${i}`, 'CnxEtU.sys'), 16 * MB);
	}
	mkdirSync(join(many, 'Driver'));
	copyFileSync(join(root, 'examples', 'sample-driver.sys'),
		join(many, 'Driver', 'CnxEtU.sys'));
	execFileSync('bsdtar', ['-a', '-cf', `${many}.zip`, '-C', many, '.']);
	rmSync(many, {recursive: true});
	const driver = readFileSync(join(root, 'examples', 'sample-driver.sys'));
	solid7z(join(work, 'solid.7z'), [{name: 'DATA.BIN', size: 3 * 2 ** 30},
		{name: 'Driver/WinXP/CnxEtU.sys', size: driver.length, bytes: driver}]);
	for (const engine of engines) {
		for (const [what, file] of [['300 drivers', `${many}.zip`],
			['solid .7z', join(work, 'solid.7z')]]) {
			const browser = await launch(engine, modules);
			try {
				const r = await run(browser, file, engine);
				console.log(`${engine}: ${what} (${(statSync(file).size / MB)
					.toFixed(0)} MB): ${(r.ms / 1000).toFixed(2)} s; peak ${
					r.peak - r.empty} MB over the empty page's ${r.empty} MB; ` +
					`longest wait ${r.gap.toFixed(0)} ms; "${r.says}"`);
			} finally {
				await browser.close();
			}
		}
	}
	if (engines.includes('chromium')) {
		const bomb = join(work, 'bomb');
		mkdirSync(bomb);
		sparse(join(bomb, 'CnxEtU.sys'), 5 * 2 ** 30);
		execFileSync('bsdtar', ['-a', '-cf', `${bomb}.zip`, '-C', bomb, '.']);
		rmSync(bomb, {recursive: true});
		const inputs = [['CD image', image('cd', 700 * MB)],
			['DVD image', image('dvd', 3 * 2 ** 30)], ['5 GiB bomb', `${bomb}.zip`]];
		for (const [what, file] of inputs) {
			// A browser of its own, so that the peak is this run's.
			const browser = await launch('chromium', modules);
			try {
				const r = await run(browser, file);
				console.log(`chromium: ${what} (${(statSync(file).size / MB)
					.toFixed(0)} MB): ${(r.ms / 1000).toFixed(2)} s; renderer's ` +
					`peak ${r.peak - r.empty} MB over the empty page's ${
					r.empty} MB; longest wait ${r.gap.toFixed(0)} ms; "${r.says}"`);
			} finally {
				await browser.close();
			}
		}
	}
} finally {
	rmSync(work, {recursive: true, force: true});
}
