// SPDX-FileCopyrightText: 2026 the drvflip authors
// SPDX-License-Identifier: MIT
// Validates a CycloneDX 1.6 JSON SBOM with the CycloneDX project's own library:
// its strict JSON schema validator, then every licence ID and expression
// against the SPDX licence list that the library carries.
//
//   node validate.cjs SBOM     (with NODE_PATH naming the installed node_modules)
//
// Prints one line: "valid ..." (exit 0) or what is wrong (exit 1).
'use strict'
const fs = require('fs')
const { Validation, SPDX } = require('@cyclonedx/cyclonedx-library')

function licences (node, found) {
  if (Array.isArray(node)) {
    node.forEach((n) => licences(n, found))
  } else if (node !== null && typeof node === 'object') {
    if (Array.isArray(node.licenses)) {
      for (const l of node.licenses) {
        if (l && typeof l.expression === 'string') found.expressions.push(l.expression)
        if (l && l.license && typeof l.license.id === 'string') found.ids.push(l.license.id)
      }
    }
    Object.values(node).forEach((n) => licences(n, found))
  }
  return found
}

async function main (path) {
  const text = fs.readFileSync(path, 'utf8')
  const errors = await new Validation.JsonStrictValidator('1.6').validate(text)
  if (errors !== null) {
    console.log(`not valid CycloneDX 1.6 JSON (strict): ${JSON.stringify(errors).slice(0, 500)}`)
    return 1
  }
  const found = licences(JSON.parse(text), { ids: [], expressions: [] })
  const badIds = found.ids.filter((id) => !SPDX.isSupportedSpdxId(id))
  const badExpressions = found.expressions.filter((e) => !SPDX.isValidSpdxLicenseExpression(e))
  if (badIds.length > 0 || badExpressions.length > 0) {
    console.log(`licences that the SPDX list does not know: ${[...badIds, ...badExpressions].join('; ')}`)
    return 1
  }
  const version = require('@cyclonedx/cyclonedx-library/package.json').version
  console.log(`valid CycloneDX 1.6 JSON by @cyclonedx/cyclonedx-library ${version}'s strict validator; ` +
    `its ${found.ids.length} licence IDs and ${found.expressions.length} licence expressions are SPDX`)
  return 0
}

main(process.argv[2]).then((status) => { process.exitCode = status }, (e) => {
  console.log(`the validator failed: ${String(e.message || e).split('\n')[0]}`)
  process.exitCode = 1
})
