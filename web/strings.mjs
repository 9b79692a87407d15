// The texts of index.html that the page translates (those marked data-t),
// written as calls that xgettext reads, so that they join the page's
// other messages.  Each is the element's markup with its spaces
// collapsed, as the page finds it in the document.
//
//   node strings.mjs OUT
import {readFileSync, writeFileSync} from 'node:fs';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';

const [out] = process.argv.slice(2);
const here = dirname(fileURLToPath(import.meta.url));
const html = readFileSync(join(here, 'index.html'), 'utf8');
const calls = [];
for (const [, , inner] of html.matchAll(
	/<(\w+)\b[^>]*\bdata-t\b[^>]*>([\s\S]*?)<\/\1>/g)) {
	if (/[&<](?!\/?(code|strong)>)/.test(inner))
		throw new Error(`a translated text holds other markup: ${inner}`);
	calls.push(`t(${JSON.stringify(inner.replace(/\s+/g, ' ').trim())});`);
}
writeFileSync(out, `// From web/index.html.\n${calls.join('\n')}\n`);
