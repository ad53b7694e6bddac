import { readFile } from 'node:fs/promises';
import { decode } from 'pixmora';
const picture = await decode(await readFile(process.argv[2]));
const [r, g, b, a] = picture.data;
console.log(`${picture.width} x ${picture.height}, first pixel ${r} ${g} ${b} ${a}`);
