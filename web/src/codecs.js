// The libraries that read and write PNG and zip, in one module that the page
// loads on first use: setting up their tables costs more than the page's
// whole first drawing of the sheet. Only what the page uses is named here,
// so the rest of the libraries stays out of the page.
export { decode as decodePng, encode as encodePng } from 'fast-png';
export { gunzipSync, unzipSync, unzlibSync, zipSync } from 'fflate';
