// Cross-checks the .xls fixtures that make_fixtures.py encrypts with our own reading of the
// format: officecrypto-tool (not ours) decrypts each one, and the decrypted copies go to a
// scratch folder for `sheetmerge cat` to compare with tests/data/xls/grid.xls.
//   NODE_PATH=/tmp/cryptotool/node_modules node check_xls_fixtures.js /tmp/decrypted
const fs = require('fs');
const path = require('path');
const officeCrypto = require('officecrypto-tool');

const out = process.argv[2];
fs.mkdirSync(out, {recursive: true});
const fixtures = {
    'cryptoapi_grid.xls': 'api-Pass',
    'cryptoapi_40bit_default_password_grid.xls': 'VelvetSweatshop',
    'xor_grid.xls': 'xor-pw',
    'xor_default_password_grid.xls': 'VelvetSweatshop',
    'libreoffice_rc4_grid.xls': 'lo-Pass1',
};
(async () => {
    for (const [name, password] of Object.entries(fixtures)) {
        const input = fs.readFileSync(path.join(__dirname, name));
        try {
            const plain = await officeCrypto.decrypt(input, {password});
            fs.writeFileSync(path.join(out, name), plain);
            console.log('decrypted', name);
        } catch (error) {
            console.log('refused', name, String(error));
        }
    }
})();
