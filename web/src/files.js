// Files in and out of the page: reading a chosen or dropped file within a
// size limit, naming the downloads after the loaded file and the options,
// and saving bytes as a download. Nothing leaves the user's machine.

export const MAX_FILE_BYTES = 64 * 1024 * 1024;

export async function readFile(file) {
  if (file.size > MAX_FILE_BYTES)
    throw new Error(`'${file.name}' is ${file.size} bytes; files over ${MAX_FILE_BYTES} bytes are not read`);
  return new Uint8Array(await file.arrayBuffer());
}

// A file's name without its extension: "TILES.16" gives "TILES".
export const stemOf = (name) => name.replace(/\.[^.]*$/, '') || 'tiles';

// "TILES.16" with dungeon on gives "TILES-dungeon"; the extension is the caller's.
export function outputName(loadedName, { cga, dungeon, mirrorRoom, remakeWater }) {
  const parts = [stemOf(loadedName)];
  if (cga) parts.push('cga');
  if (dungeon) parts.push('dungeon');
  if (mirrorRoom) parts.push('mirror-room');
  if (!remakeWater) parts.push('no-remake-water');
  return parts.join('-');
}

export function download(bytes, name, type = 'application/octet-stream') {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 10000);
}

// Calls `onFile` with the first file dropped anywhere on the page.
export function acceptDrops(target, onFile) {
  target.addEventListener('dragover', (event) => event.preventDefault());
  target.addEventListener('drop', (event) => {
    event.preventDefault();
    const file = event.dataTransfer?.files?.[0];
    if (file) onFile(file);
  });
}
