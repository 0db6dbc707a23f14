// Validates one .gltf or .glb file with the Khronos validator and prints its
// report as JSON. Exit status 0 when there are no errors and no warnings.
const fs = require('fs');
const path = require('path');
const validator = require('gltf-validator');

const file = process.argv[2];
const data = new Uint8Array(fs.readFileSync(file));
validator
  .validateBytes(data, {
    uri: path.basename(file),
    externalResourceFunction: (uri) =>
      new Promise((resolve, reject) => {
        fs.readFile(path.join(path.dirname(file), decodeURIComponent(uri)), (err, bytes) =>
          err ? reject(err.toString()) : resolve(new Uint8Array(bytes)));
      }),
  })
  .then((report) => {
    // The issues, and how many vertices the file's primitives read in all.
    const issues = { ...report.issues, totalVertexCount: report.info?.totalVertexCount };
    console.log(JSON.stringify(issues, null, 1));
    process.exit(report.issues.numErrors === 0 && report.issues.numWarnings === 0 ? 0 : 1);
  })
  .catch((error) => {
    console.error(String(error));
    process.exit(2);
  });
