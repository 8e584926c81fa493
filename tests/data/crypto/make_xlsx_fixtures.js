// Encrypts tests/data/xls/grid.xlsx with officecrypto-tool, an encrypter that is not ours:
// agile encryption (AES-256, SHA-512, 100,000 rounds, what current spreadsheet programs write)
// and standard encryption (AES-128, SHA-1, Office 2007). The package comes from the npm registry
// into a scratch folder and is never a build or test dependency:
//   (cd /tmp/cryptotool && npm install officecrypto-tool@0.0.19)
//   NODE_PATH=/tmp/cryptotool/node_modules node make_xlsx_fixtures.js
const fs = require('fs');
const path = require('path');
const officeCrypto = require('officecrypto-tool');

const here = __dirname;
const plain = fs.readFileSync(path.join(here, '..', 'xls', 'grid.xlsx'));
fs.writeFileSync(path.join(here, 'agile_grid.xlsx'),
                 officeCrypto.encrypt(plain, {password: '密码Agile-1'}));
fs.writeFileSync(path.join(here, 'standard_grid.xlsx'),
                 officeCrypto.encrypt(plain, {password: 'standard-pw', type: 'standard'}));
